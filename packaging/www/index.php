<?php
// Sample site of the local stack: shows the PHP version and whether the database answers
// with the panel's account.
declare(strict_types=1);

function databaseState(): array
{
    if (!extension_loaded('mysqli')) {
        return [false, 'mysqli extension not loaded'];
    }
    mysqli_report(MYSQLI_REPORT_OFF);
    try {
        $db = mysqli_init();
        if ($db === false) {
            return [false, 'mysqli_init failed'];
        }
        $db->options(MYSQLI_OPT_CONNECT_TIMEOUT, 2);
        if (!@$db->real_connect('127.0.0.1', 'root', 'kpzw', '', 3306)) {
            return [false, mysqli_connect_error() ?: 'connection refused'];
        }
        $version = $db->server_info;
        $db->close();
        return [true, $version];
    } catch (Throwable $e) {
        return [false, $e->getMessage()];
    }
}

[$reachable, $detail] = databaseState();
$h = static fn (string $text): string => htmlspecialchars($text, ENT_QUOTES | ENT_SUBSTITUTE, 'UTF-8');
?><!DOCTYPE html>
<html lang="zh-CN">
<head>
<meta charset="utf-8">
<title>Zelto-Panel 示例站点</title>
<style>
body { font-family: sans-serif; margin: 3em; color: #222; }
.ok { color: #18794e; } .down { color: #b42318; }
code { background: #f2f2f2; padding: 0 .3em; }
</style>
</head>
<body>
<h1>Zelto-Panel 示例站点</h1>
<p id="php-version">PHP <?= $h(PHP_VERSION) ?></p>
<?php if ($reachable): ?>
<p id="database" class="ok" data-state="reachable">数据库: 已连接 (Database: reachable, 127.0.0.1:3306, server <?= $h($detail) ?>)</p>
<?php else: ?>
<p id="database" class="down" data-state="unreachable">数据库: 未连接 (Database: unreachable, 127.0.0.1:3306: <?= $h($detail) ?>)</p>
<?php endif; ?>
<p>站点文件位于 <code>runtime/www</code>，站点数据位于 <code>runtime/www/Data</code>。</p>
</body>
</html>
