<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name></name>
    <message id="app.title">
        <source>ZELTO Local Debug Assistant</source>
        <translation>ZELTO 本地调试助手</translation>
    </message>
    <message id="app.subtitle">
        <source>PHP, MySQL and phpMyAdmin on this machine, one click away</source>
        <translation>本机一键运行 PHP、MySQL 与 phpMyAdmin，调试网站</translation>
    </message>
    <message id="app.ready">
        <source>Ready: the runtime directories are writable</source>
        <translation>环境就绪：运行目录可写</translation>
    </message>
    <message id="app.attention">
        <source>Attention: check the directory permissions</source>
        <translation>需要注意：请检查目录权限</translation>
    </message>
    <message id="status.mysql">
        <source>MySQL</source>
        <translation>MySQL</translation>
    </message>
    <message id="status.php_web">
        <source>PHP Web</source>
        <translation>PHP 网站</translation>
    </message>
    <message id="status.phpmyadmin">
        <source>phpMyAdmin</source>
        <translation>phpMyAdmin</translation>
    </message>
    <message id="common.running">
        <source>Running</source>
        <translation>运行中</translation>
    </message>
    <message id="common.stopped">
        <source>Stopped</source>
        <translation>已停止</translation>
    </message>
    <message id="update.progress">
        <source>Update progress</source>
        <translation>更新进度</translation>
    </message>
    <message id="warning.errors">
        <source>Errors in the log</source>
        <translation>日志中的错误</translation>
    </message>
    <message id="warning.permission">
        <source>Permission notice</source>
        <translation>权限提示</translation>
    </message>
    <message id="panel.logs">
        <source>Log</source>
        <translation>运行日志</translation>
    </message>
    <message id="panel.logs.sub">
        <source>The latest report; you can edit and copy it</source>
        <translation>最近一次操作的报告，可编辑、可复制</translation>
    </message>
    <message id="panel.service_control">
        <source>Services</source>
        <translation>服务控制</translation>
    </message>
    <message id="panel.service_control.sub">
        <source>Start, stop and check MySQL and the PHP servers</source>
        <translation>启动、停止并检查 MySQL 与 PHP 服务</translation>
    </message>
    <message id="panel.directory_permission">
        <source>Directory &amp; permissions</source>
        <translation>目录与权限</translation>
    </message>
    <message id="panel.directory_permission.sub">
        <source>Pick the panel directory, open it, or open the privacy settings</source>
        <translation>选择面板目录、打开目录或打开隐私设置</translation>
    </message>
    <message id="panel.site_logs">
        <source>Site &amp; log</source>
        <translation>网站与日志</translation>
    </message>
    <message id="panel.site_logs.sub">
        <source>Open the site and the database admin, update the site files, copy the log</source>
        <translation>打开网站与数据库管理，更新网站文件，复制日志</translation>
    </message>
    <message id="action.start_all">
        <source>Start all</source>
        <translation>一键启动</translation>
    </message>
    <message id="action.stop_all">
        <source>Stop all</source>
        <translation>全部停止</translation>
    </message>
    <message id="action.refresh_status">
        <source>Refresh status</source>
        <translation>刷新状态</translation>
    </message>
    <message id="action.php_debugging">
        <source>PHP debugging (Xdebug)</source>
        <translation>PHP 调试 (Xdebug)</translation>
    </message>
    <message id="status.debugging">
        <source>%1 · debugging</source>
        <translation>%1 · 调试中</translation>
    </message>
    <message id="status.stopped_unexpectedly">
        <source>%1 · stopped unexpectedly at %2</source>
        <translation>%1 · %2 意外停止</translation>
    </message>
    <message id="action.choose_directory">
        <source>Choose directory</source>
        <translation>选择目录</translation>
    </message>
    <message id="action.open_directory">
        <source>Open directory</source>
        <translation>打开目录</translation>
    </message>
    <message id="action.privacy_settings">
        <source>Privacy settings</source>
        <translation>隐私设置</translation>
    </message>
    <message id="action.open_website">
        <source>Open website</source>
        <translation>打开网站</translation>
    </message>
    <message id="action.database_admin">
        <source>Database admin</source>
        <translation>数据库管理</translation>
    </message>
    <message id="action.start_phpmyadmin">
        <source>Start phpMyAdmin</source>
        <translation>启动 phpMyAdmin</translation>
    </message>
    <message id="action.update_repair">
        <source>Update / repair files</source>
        <translation>更新/修复文件</translation>
    </message>
    <message id="action.undo_update">
        <source>Undo last update</source>
        <translation>撤销上次更新</translation>
    </message>
    <message id="action.copy_logs">
        <source>Copy log</source>
        <translation>复制日志</translation>
    </message>
    <message id="panel.database_backups">
        <source>Database backups</source>
        <translation>数据库备份</translation>
    </message>
    <message id="panel.database_backups.sub">
        <source>Snapshots live in the backups folder; one is taken before every update, undo and restore</source>
        <translation>快照保存在 backups 目录，更新、撤销和恢复前自动创建</translation>
    </message>
    <message id="action.backup_database">
        <source>Back up database now</source>
        <translation>立即备份数据库</translation>
    </message>
    <message id="action.restore_database">
        <source>Restore database…</source>
        <translation>恢复数据库…</translation>
    </message>
    <message id="action.open_backups">
        <source>Open backups folder</source>
        <translation>打开备份文件夹</translation>
    </message>
    <message id="backup.drop_others">
        <source>Also drop databases created since</source>
        <translation>同时删除快照之后新建的数据库</translation>
    </message>
    <message id="backup.reason.before_update">
        <source>Before update</source>
        <translation>更新前</translation>
    </message>
    <message id="backup.reason.before_undo">
        <source>Before undo</source>
        <translation>撤销前</translation>
    </message>
    <message id="backup.reason.before_restore">
        <source>Before restore</source>
        <translation>恢复前</translation>
    </message>
    <message id="backup.reason.by_hand">
        <source>By hand</source>
        <translation>手动</translation>
    </message>
    <message id="backup.none">
        <source>No snapshots yet</source>
        <translation>还没有快照</translation>
    </message>
    <message id="backup.last">
        <source>Last backup: %1</source>
        <translation>最近一次备份: %1</translation>
    </message>
    <message id="backup.never">
        <source>No backup yet</source>
        <translation>还没有备份</translation>
    </message>
    <message id="window.close">
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message id="window.minimize">
        <source>Minimize</source>
        <translation>最小化</translation>
    </message>
    <message id="window.zoom">
        <source>Zoom</source>
        <translation>缩放</translation>
    </message>
    <message id="action.server_logs">
        <source>Server logs</source>
        <translation>服务器日志</translation>
    </message>
    <message id="logs.sub">
        <source>What the site, phpMyAdmin and the database write, as they write it</source>
        <translation>站点、phpMyAdmin 与数据库写下的日志，随写随显</translation>
    </message>
    <message id="logs.tab.site">
        <source>Site</source>
        <translation>站点</translation>
    </message>
    <message id="logs.tab.phpmyadmin">
        <source>phpMyAdmin</source>
        <translation>phpMyAdmin</translation>
    </message>
    <message id="logs.tab.database">
        <source>Database</source>
        <translation>数据库</translation>
    </message>
    <message id="logs.marker.error">
        <source>[error]</source>
        <translation>[错误]</translation>
    </message>
    <message id="logs.marker.warning">
        <source>[warning]</source>
        <translation>[警告]</translation>
    </message>
    <message id="logs.errors_only">
        <source>Errors only</source>
        <translation>只显示错误</translation>
    </message>
    <message id="logs.copy">
        <source>Copy</source>
        <translation>复制</translation>
    </message>
    <message id="logs.clear">
        <source>Clear</source>
        <translation>清空</translation>
    </message>
    <message id="logs.clear_failed">
        <source>Could not clear the log: %1</source>
        <translation>无法清空日志：%1</translation>
    </message>
    <message id="tray.show_window">
        <source>Show window</source>
        <translation>显示窗口</translation>
    </message>
    <message id="tray.keep_running">
        <source>Keep running in the tray</source>
        <translation>关闭窗口后在托盘中继续运行</translation>
    </message>
    <message id="tray.start_at_login">
        <source>Start at login</source>
        <translation>登录时启动</translation>
    </message>
    <message id="tray.start_stack_at_login">
        <source>Start the stack at login</source>
        <translation>登录时启动全部服务</translation>
    </message>
    <message id="tray.quit">
        <source>Quit</source>
        <translation>退出</translation>
    </message>
    <message id="tray.all_running">
        <source>All services running</source>
        <translation>服务全部运行中</translation>
    </message>
    <message id="tray.some_running">
        <source>%1 of %2 services running</source>
        <translation>%2 个服务中 %1 个运行中</translation>
    </message>
    <message id="tray.none_running">
        <source>No service running</source>
        <translation>服务均未运行</translation>
    </message>
    <message id="tray.busy">
        <source>Working: %1</source>
        <translation>正在进行：%1</translation>
    </message>
    <message id="tray.kept">
        <source>The panel keeps running in the tray. Quit is in the tray's menu.</source>
        <translation>面板在托盘中继续运行，可从托盘菜单退出。</translation>
    </message>
    <message id="notify.stopped_unexpectedly">
        <source>%1 stopped unexpectedly</source>
        <translation>%1 意外停止</translation>
    </message>
    <message id="notify.no_log_lines">
        <source>Its log got no new lines.</source>
        <translation>日志中没有新内容。</translation>
    </message>
    <message id="notify.run_ended">
        <source>Done, then quit: %1</source>
        <translation>已完成并退出：%1</translation>
    </message>
</context>
</TS>
