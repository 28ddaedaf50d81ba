<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name></name>
    <message id="app.title">
        <source>ZELTO Local Debug Assistant</source>
        <translation>ZELTO Local Debug Assistant</translation>
    </message>
    <message id="app.subtitle">
        <source>PHP, MySQL and phpMyAdmin on this machine, one click away</source>
        <translation>PHP, MySQL and phpMyAdmin on this machine, one click away</translation>
    </message>
    <message id="app.ready">
        <source>Ready: the runtime directories are writable</source>
        <translation>Ready: the runtime directories are writable</translation>
    </message>
    <message id="app.attention">
        <source>Attention: check the directory permissions</source>
        <translation>Attention: check the directory permissions</translation>
    </message>
    <message id="status.mysql">
        <source>MySQL</source>
        <translation>MySQL</translation>
    </message>
    <message id="status.php_web">
        <source>PHP Web</source>
        <translation>PHP Web</translation>
    </message>
    <message id="status.phpmyadmin">
        <source>phpMyAdmin</source>
        <translation>phpMyAdmin</translation>
    </message>
    <message id="common.running">
        <source>Running</source>
        <translation>Running</translation>
    </message>
    <message id="common.stopped">
        <source>Stopped</source>
        <translation>Stopped</translation>
    </message>
    <message id="update.progress">
        <source>Update progress</source>
        <translation>Update progress</translation>
    </message>
    <message id="warning.errors">
        <source>Errors in the log</source>
        <translation>Errors in the log</translation>
    </message>
    <message id="warning.permission">
        <source>Permission notice</source>
        <translation>Permission notice</translation>
    </message>
    <message id="panel.logs">
        <source>Log</source>
        <translation>Log</translation>
    </message>
    <message id="panel.logs.sub">
        <source>The latest report; you can edit and copy it</source>
        <translation>The latest report; you can edit and copy it</translation>
    </message>
    <message id="panel.service_control">
        <source>Services</source>
        <translation>Services</translation>
    </message>
    <message id="panel.service_control.sub">
        <source>Start, stop and check MySQL and the PHP servers</source>
        <translation>Start, stop and check MySQL and the PHP servers</translation>
    </message>
    <message id="panel.directory_permission">
        <source>Directory &amp; permissions</source>
        <translation>Directory &amp; permissions</translation>
    </message>
    <message id="panel.directory_permission.sub">
        <source>Pick the panel directory, open it, or open the privacy settings</source>
        <translation>Pick the panel directory, open it, or open the privacy settings</translation>
    </message>
    <message id="panel.site_logs">
        <source>Site &amp; log</source>
        <translation>Site &amp; log</translation>
    </message>
    <message id="panel.site_logs.sub">
        <source>Open the site and the database admin, update the site files, copy the log</source>
        <translation>Open the site and the database admin, update the site files, copy the log</translation>
    </message>
    <message id="action.start_all">
        <source>Start all</source>
        <translation>Start all</translation>
    </message>
    <message id="action.stop_all">
        <source>Stop all</source>
        <translation>Stop all</translation>
    </message>
    <message id="action.refresh_status">
        <source>Refresh status</source>
        <translation>Refresh status</translation>
    </message>
    <message id="action.php_debugging">
        <source>PHP debugging (Xdebug)</source>
        <translation>PHP debugging (Xdebug)</translation>
    </message>
    <message id="status.debugging">
        <source>%1 · debugging</source>
        <translation>%1 · debugging</translation>
    </message>
    <message id="status.stopped_unexpectedly">
        <source>%1 · stopped unexpectedly at %2</source>
        <translation>%1 · stopped unexpectedly at %2</translation>
    </message>
    <message id="action.choose_directory">
        <source>Choose directory</source>
        <translation>Choose directory</translation>
    </message>
    <message id="action.open_directory">
        <source>Open directory</source>
        <translation>Open directory</translation>
    </message>
    <message id="action.privacy_settings">
        <source>Privacy settings</source>
        <translation>Privacy settings</translation>
    </message>
    <message id="action.open_website">
        <source>Open website</source>
        <translation>Open website</translation>
    </message>
    <message id="action.database_admin">
        <source>Database admin</source>
        <translation>Database admin</translation>
    </message>
    <message id="action.start_phpmyadmin">
        <source>Start phpMyAdmin</source>
        <translation>Start phpMyAdmin</translation>
    </message>
    <message id="action.update_repair">
        <source>Update / repair files</source>
        <translation>Update / repair files</translation>
    </message>
    <message id="action.undo_update">
        <source>Undo last update</source>
        <translation>Undo last update</translation>
    </message>
    <message id="action.copy_logs">
        <source>Copy log</source>
        <translation>Copy log</translation>
    </message>
    <message id="panel.database_backups">
        <source>Database backups</source>
        <translation>Database backups</translation>
    </message>
    <message id="panel.database_backups.sub">
        <source>Snapshots live in the backups folder; one is taken before every update, undo and restore</source>
        <translation>Snapshots live in the backups folder; one is taken before every update, undo and restore</translation>
    </message>
    <message id="action.backup_database">
        <source>Back up database now</source>
        <translation>Back up database now</translation>
    </message>
    <message id="action.restore_database">
        <source>Restore database…</source>
        <translation>Restore database…</translation>
    </message>
    <message id="action.open_backups">
        <source>Open backups folder</source>
        <translation>Open backups folder</translation>
    </message>
    <message id="backup.drop_others">
        <source>Also drop databases created since</source>
        <translation>Also drop databases created since</translation>
    </message>
    <message id="backup.reason.before_update">
        <source>Before update</source>
        <translation>Before update</translation>
    </message>
    <message id="backup.reason.before_undo">
        <source>Before undo</source>
        <translation>Before undo</translation>
    </message>
    <message id="backup.reason.before_restore">
        <source>Before restore</source>
        <translation>Before restore</translation>
    </message>
    <message id="backup.reason.by_hand">
        <source>By hand</source>
        <translation>By hand</translation>
    </message>
    <message id="backup.none">
        <source>No snapshots yet</source>
        <translation>No snapshots yet</translation>
    </message>
    <message id="backup.last">
        <source>Last backup: %1</source>
        <translation>Last backup: %1</translation>
    </message>
    <message id="backup.never">
        <source>No backup yet</source>
        <translation>No backup yet</translation>
    </message>
    <message id="window.close">
        <source>Close</source>
        <translation>Close</translation>
    </message>
    <message id="window.minimize">
        <source>Minimize</source>
        <translation>Minimize</translation>
    </message>
    <message id="window.zoom">
        <source>Zoom</source>
        <translation>Zoom</translation>
    </message>
    <message id="action.server_logs">
        <source>Server logs</source>
        <translation>Server logs</translation>
    </message>
    <message id="logs.sub">
        <source>What the site, phpMyAdmin and the database write, as they write it</source>
        <translation>What the site, phpMyAdmin and the database write, as they write it</translation>
    </message>
    <message id="logs.tab.site">
        <source>Site</source>
        <translation>Site</translation>
    </message>
    <message id="logs.tab.phpmyadmin">
        <source>phpMyAdmin</source>
        <translation>phpMyAdmin</translation>
    </message>
    <message id="logs.tab.database">
        <source>Database</source>
        <translation>Database</translation>
    </message>
    <message id="logs.marker.error">
        <source>[error]</source>
        <translation>[error]</translation>
    </message>
    <message id="logs.marker.warning">
        <source>[warning]</source>
        <translation>[warning]</translation>
    </message>
    <message id="logs.errors_only">
        <source>Errors only</source>
        <translation>Errors only</translation>
    </message>
    <message id="logs.copy">
        <source>Copy</source>
        <translation>Copy</translation>
    </message>
    <message id="logs.clear">
        <source>Clear</source>
        <translation>Clear</translation>
    </message>
    <message id="logs.clear_failed">
        <source>Could not clear the log: %1</source>
        <translation>Could not clear the log: %1</translation>
    </message>
    <message id="tray.show_window">
        <source>Show window</source>
        <translation>Show window</translation>
    </message>
    <message id="tray.keep_running">
        <source>Keep running in the tray</source>
        <translation>Keep running in the tray</translation>
    </message>
    <message id="tray.start_at_login">
        <source>Start at login</source>
        <translation>Start at login</translation>
    </message>
    <message id="tray.start_stack_at_login">
        <source>Start the stack at login</source>
        <translation>Start the stack at login</translation>
    </message>
    <message id="tray.quit">
        <source>Quit</source>
        <translation>Quit</translation>
    </message>
    <message id="tray.all_running">
        <source>All services running</source>
        <translation>All services running</translation>
    </message>
    <message id="tray.some_running">
        <source>%1 of %2 services running</source>
        <translation>%1 of %2 services running</translation>
    </message>
    <message id="tray.none_running">
        <source>No service running</source>
        <translation>No service running</translation>
    </message>
    <message id="tray.busy">
        <source>Working: %1</source>
        <translation>Working: %1</translation>
    </message>
    <message id="tray.kept">
        <source>The panel keeps running in the tray. Quit is in the tray's menu.</source>
        <translation>The panel keeps running in the tray. Quit is in the tray's menu.</translation>
    </message>
    <message id="notify.stopped_unexpectedly">
        <source>%1 stopped unexpectedly</source>
        <translation>%1 stopped unexpectedly</translation>
    </message>
    <message id="notify.no_log_lines">
        <source>Its log got no new lines.</source>
        <translation>Its log got no new lines.</translation>
    </message>
    <message id="notify.run_ended">
        <source>Done, then quit: %1</source>
        <translation>Done, then quit: %1</translation>
    </message>
</context>
</TS>
