#include "platform/file_copy.h"
#include "platform/file_descriptor.h"

#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Copying a file's contents, in the kernel and through a buffer, within one file system and
// across two (where a hard link fails and the site's previous generation copies instead).
class TestFileCopy : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void copiesEveryByte_data();
    void copiesEveryByte();
};

void TestFileCopy::copiesEveryByte_data() {
    QTest::addColumn<bool>("inKernel");
    QTest::addColumn<int>("bytes");
    QTest::addColumn<int>("declared"); // the size the caller believes the source has
    QTest::addColumn<bool>("acrossFileSystems");
    for (const bool inKernel : {true, false}) {
        const char* how = inKernel ? "kernel" : "buffer";
        QTest::addRow("%s, empty", how) << inKernel << 0 << 0 << false;
        QTest::addRow("%s, larger than the buffer", how)
            << inKernel << 200 * 1024 + 7 << 200 * 1024 + 7 << false;
        QTest::addRow("%s, source shorter than declared", how) << inKernel << 1000 << 5000 << false;
        QTest::addRow("%s, across file systems", how)
            << inKernel << 300 * 1024 << 300 * 1024 << true;
    }
}

void TestFileCopy::copiesEveryByte() {
    QFETCH(bool, inKernel);
    QFETCH(int, bytes);
    QFETCH(int, declared);
    QFETCH(bool, acrossFileSystems);

    QTemporaryDir source;
    QVERIFY(source.isValid());
    std::unique_ptr<QTemporaryDir> elsewhere;
    QString targetDir = source.path();
    if (acrossFileSystems) {
        elsewhere = std::make_unique<QTemporaryDir>(QStringLiteral("/dev/shm/zelto-copy-XXXXXX"));
        struct stat a {};
        struct stat b {};
        if (!elsewhere->isValid() || ::stat(QFile::encodeName(source.path()), &a) != 0 ||
            ::stat(QFile::encodeName(elsewhere->path()), &b) != 0 || a.st_dev == b.st_dev)
            QSKIP("no second file system (/dev/shm) beside the temporary directory");
        targetDir = elsewhere->path();
    }

    QByteArray content(bytes, Qt::Uninitialized);
    for (int i = 0; i < bytes; ++i)
        content[i] = static_cast<char>((i * 131 + i / 251) & 0xff);
    const QString from = source.filePath(QStringLiteral("from"));
    {
        QFile f(from);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QCOMPARE(f.write(content), qint64(bytes));
    }
    const QString to = targetDir + QStringLiteral("/to");
    const platform::FileDescriptor in(::open(QFile::encodeName(from), O_RDONLY | O_CLOEXEC));
    const platform::FileDescriptor out(
        ::open(QFile::encodeName(to), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    QVERIFY(in.isOpen() && out.isOpen());

    const int code = inKernel ? platform::copyFileContents(in.get(), out.get(), declared)
                              : platform::copyFileContentsByReading(in.get(), out.get(), declared);
    QCOMPARE(code, 0);
    QFile copy(to);
    QVERIFY(copy.open(QIODevice::ReadOnly));
    QCOMPARE(copy.readAll(), content);
}

QTEST_GUILESS_MAIN(TestFileCopy)
#include "tst_file_copy.moc"
