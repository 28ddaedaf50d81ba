-- Run once by mysql_install_db on a new data directory: root may sign in only from this machine
-- (socket, 127.0.0.1, ::1), always with the panel's password.
DELETE FROM mysql.global_priv WHERE User = 'root' AND Host NOT IN ('localhost', '127.0.0.1', '::1');
DELETE FROM mysql.proxies_priv WHERE User = 'root' AND Host NOT IN ('localhost', '127.0.0.1', '::1');
UPDATE mysql.global_priv
   SET Priv = JSON_SET(Priv, '$.plugin', 'mysql_native_password',
                             '$.authentication_string', PASSWORD('kpzw'))
 WHERE User = 'root';
