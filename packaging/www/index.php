<?php
// Sample site of the local stack: shows the PHP version, the extensions it has loaded with
// their versions, and whether the database answers with the panel's account, through mysqli and
// PDO, in each of the three ways a site on this machine reaches it:
//   'localhost'  the database's Unix socket (mysqli.default_socket, pdo_mysql.default_socket,
//                which the panel sets for the PHP servers it starts)
//   '127.0.0.1'  TCP over IPv4 loopback, port 3306
//   '[::1]'      TCP over IPv6 loopback, port 3306 (PHP's MySQL drivers want the brackets)
// In your own code the usual forms work as they are, for example
//   new mysqli('localhost', 'root', 'kpzw');
//   new PDO('mysql:host=127.0.0.1;port=3306', 'root', 'kpzw');
declare(strict_types=1);

const DB_USER = 'root';
const DB_PASSWORD = 'kpzw';

/** [reachable, server version or the reason] of one way to the database. */
function viaMysqli(string $host): array
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
        if (!@$db->real_connect($host, DB_USER, DB_PASSWORD, '', 3306)) {
            return [false, mysqli_connect_error() ?: 'connection refused'];
        }
        $version = $db->server_info;
        $db->close();
        return [true, $version];
    } catch (Throwable $e) {
        return [false, $e->getMessage()];
    }
}

function viaPdo(string $dsn): array
{
    if (!extension_loaded('pdo_mysql')) {
        return [false, 'pdo_mysql extension not loaded'];
    }
    try {
        $db = new PDO($dsn, DB_USER, DB_PASSWORD, [PDO::ATTR_TIMEOUT => 2]);
        return [true, (string) $db->getAttribute(PDO::ATTR_SERVER_VERSION)];
    } catch (Throwable $e) {
        return [false, $e->getMessage()];
    }
}

$ways = [
    'localhost' => ['mysqli: localhost (socket ' . (ini_get('mysqli.default_socket') ?: '-') . ')', viaMysqli('localhost')],
    'pdo-localhost' => ['PDO: mysql:host=localhost (socket ' . (ini_get('pdo_mysql.default_socket') ?: '-') . ')', viaPdo('mysql:host=localhost')],
    'ipv4' => ['mysqli: 127.0.0.1:3306', viaMysqli('127.0.0.1')],
    'pdo-ipv4' => ['PDO: mysql:host=127.0.0.1;port=3306', viaPdo('mysql:host=127.0.0.1;port=3306')],
    'ipv6' => ['mysqli: [::1]:3306', viaMysqli('[::1]')],
    'pdo-ipv6' => ['PDO: mysql:host=[::1];port=3306', viaPdo('mysql:host=[::1];port=3306')],
];
$h = static fn (string $text): string => htmlspecialchars($text, ENT_QUOTES | ENT_SUBSTITUTE, 'UTF-8');

// Every loaded extension, OPcache (a Zend extension) among them, by a key of lower-case letters
// and underscores ("zend_opcache"); its version, or PHP's when it has none of its own.
$extensions = [];
foreach (array_merge(get_loaded_extensions(), get_loaded_extensions(true)) as $name) {
    $version = phpversion($name);
    $extensions[strtr(strtolower($name), ' ', '_')] = [$name, $version === false ? PHP_VERSION : $version];
}
ksort($extensions);
// What applications commonly ask for; the runtime carries all of them.
$expected = ['mysqli', 'pdo_mysql', 'mbstring', 'curl', 'gd', 'intl', 'zip', 'dom', 'simplexml',
    'xmlreader', 'xmlwriter', 'bcmath', 'imagick', 'zend_opcache', 'exif', 'fileinfo', 'sodium'];
$missing = array_values(array_diff($expected, array_keys($extensions)));
$opcache = function_exists('opcache_get_status') ? @opcache_get_status(false) : false;
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
<?php [$reachable, $detail] = $ways['ipv4'][1]; ?>
<?php if ($reachable): ?>
<p id="database" class="ok" data-state="reachable">数据库: 已连接 (Database: reachable, 127.0.0.1:3306, server <?= $h($detail) ?>)</p>
<?php else: ?>
<p id="database" class="down" data-state="unreachable">数据库: 未连接 (Database: unreachable, 127.0.0.1:3306: <?= $h($detail) ?>)</p>
<?php endif; ?>
<ul>
<?php foreach ($ways as $id => [$label, [$ok, $detail]]): ?>
<li id="db-<?= $h($id) ?>" class="<?= $ok ? 'ok' : 'down' ?>" data-state="<?= $ok ? 'reachable' : 'unreachable' ?>"><code><?= $h($label) ?></code>: <?= $ok ? '已连接, server ' : '未连接: ' ?><?= $h($detail) ?></li>
<?php endforeach; ?>
</ul>
<h2>PHP 扩展 (extensions)</h2>
<p id="opcache" data-state="<?= is_array($opcache) && !empty($opcache['opcache_enabled']) ? 'on' : 'off' ?>">OPcache: <?= is_array($opcache) && !empty($opcache['opcache_enabled']) ? '已启用' : '未启用' ?>, opcache.revalidate_freq = <?= $h((string) ini_get('opcache.revalidate_freq')) ?></p>
<?php if ($missing): ?>
<p id="extensions-missing" class="down">缺少: <?= $h(implode(', ', $missing)) ?></p>
<?php endif; ?>
<ul id="extensions">
<?php foreach ($extensions as $key => [$name, $version]): ?>
<li data-extension="<?= $h($key) ?>" data-version="<?= $h($version) ?>"><code><?= $h($name) ?></code> <?= $h($version) ?></li>
<?php endforeach; ?>
</ul>
<p>数据库只接受本机的连接 (localhost、127.0.0.1、::1)，用户 <code>root</code>，密码 <code>kpzw</code>。</p>
<p>站点文件位于 <code>runtime/www</code>，站点数据位于 <code>runtime/www/Data</code>。</p>
</body>
</html>
