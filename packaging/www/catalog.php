<?php
// A page that does what an application's pages do: a few queries through "localhost" (the
// runtime database's socket) and about 50 KB of HTML. The first request creates the sample
// table zelto_sample.products (200 rows); later ones only read.
declare(strict_types=1);

$h = static fn (string $text): string => htmlspecialchars($text, ENT_QUOTES | ENT_SUBSTITUTE, 'UTF-8');
try {
    $db = new PDO('mysql:host=localhost;charset=utf8mb4', 'root', 'kpzw', [
        PDO::ATTR_ERRMODE => PDO::ERRMODE_EXCEPTION,
        PDO::ATTR_TIMEOUT => 5,
    ]);
    $db->exec('CREATE DATABASE IF NOT EXISTS zelto_sample CHARACTER SET utf8mb4');
    $db->exec('USE zelto_sample');
    $db->exec('CREATE TABLE IF NOT EXISTS products (
        id INT PRIMARY KEY, name VARCHAR(80) NOT NULL, category VARCHAR(40) NOT NULL,
        price DECIMAL(10, 2) NOT NULL, stock INT NOT NULL, description VARCHAR(255) NOT NULL)');
    if ((int) $db->query('SELECT COUNT(*) FROM products')->fetchColumn() === 0) {
        $insert = $db->prepare('INSERT IGNORE INTO products VALUES (?, ?, ?, ?, ?, ?)');
        $categories = ['书籍', 'Garden', '电子产品', 'Kitchen', 'Toys'];
        for ($i = 1; $i <= 200; $i++) {
            $insert->execute([$i, "商品 Product $i", $categories[$i % 5], $i * 1.25 + 0.99, $i * 7 % 113,
                str_repeat("Sample description $i. ", 4)]);
        }
    }
    $products = $db->query('SELECT id, name, category, price, stock, description FROM products ORDER BY id')->fetchAll(PDO::FETCH_ASSOC);
    $byCategory = $db->query('SELECT category, COUNT(*) AS n, ROUND(AVG(price), 2) AS average FROM products GROUP BY category ORDER BY category')->fetchAll(PDO::FETCH_ASSOC);
    $low = $db->query('SELECT name, stock FROM products WHERE stock < 10 ORDER BY stock, id LIMIT 10')->fetchAll(PDO::FETCH_ASSOC);
} catch (Throwable $e) {
    http_response_code(503);
    echo '<!DOCTYPE html><p id="catalog" data-state="unreachable">数据库未连接: ', $h($e->getMessage()), '</p>';
    return;
}
?><!DOCTYPE html>
<html lang="zh-CN">
<head>
<meta charset="utf-8">
<title>示例商品目录 (catalog)</title>
<style>table { border-collapse: collapse; } td, th { border: 1px solid #ccc; padding: 2px 6px; }</style>
</head>
<body>
<h1 id="catalog" data-state="reachable" data-rows="<?= count($products) ?>">示例商品目录</h1>
<h2>分类</h2>
<ul>
<?php foreach ($byCategory as $row): ?>
<li><?= $h($row['category']) ?>: <?= (int) $row['n'] ?> 件, 平均 <?= $h(number_format((float) $row['average'], 2)) ?></li>
<?php endforeach; ?>
</ul>
<h2>库存不足</h2>
<ul>
<?php foreach ($low as $row): ?>
<li><?= $h($row['name']) ?> (<?= (int) $row['stock'] ?>)</li>
<?php endforeach; ?>
</ul>
<table>
<tr><th>#</th><th>名称</th><th>分类</th><th>价格</th><th>库存</th><th>说明</th></tr>
<?php foreach ($products as $p): ?>
<tr class="product" data-id="<?= (int) $p['id'] ?>"><td><?= (int) $p['id'] ?></td><td><a href="?id=<?= (int) $p['id'] ?>"><?= $h($p['name']) ?></a></td><td><?= $h($p['category']) ?></td><td><?= $h(number_format((float) $p['price'], 2)) ?></td><td><?= (int) $p['stock'] ?></td><td><?= $h($p['description']) ?></td></tr>
<?php endforeach; ?>
</table>
</body>
</html>
