// SPDX-License-Identifier: GPL-3.0-or-later
// Firmware files as the write receives them: what is refused before any
// device is touched, and why, and a path that reaches the backend intact.
#include "firmwarefile.h"
#include "programmer.h"
#include "scriptedbackend.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

std::u16string utf16(const QString &s)
{
    return std::u16string(reinterpret_cast<const char16_t *>(s.utf16()), size_t(s.size()));
}

int load(const QString &path, flashing::FileProblem *problem = nullptr)
{
    flashing::FirmwareImage image;
    return flashing::loadFirmwareFile(path.toStdString(), 0x08000000, image, problem);
}

QString written(const QTemporaryDir &dir, const QString &name, const QByteArray &content)
{
    QFile file(dir.filePath(name));
    file.open(QIODevice::WriteOnly);
    file.write(content);
    return file.fileName();
}

} // namespace

class TestFirmwareFile : public QObject {
    Q_OBJECT
private slots:
    void unreadableFilesAreNotFound()
    {
        QTemporaryDir dir;
        QCOMPARE(load(dir.filePath(QStringLiteral("nada.hex"))), int(flashing::kFileNotFound));
        QCOMPARE(load(dir.path()), int(flashing::kFileNotFound));
        QCOMPARE(load(QString()), int(flashing::kFileNotFound));
    }

    void invalidFilesSayWhereAndWhy()
    {
        QTemporaryDir dir;
        flashing::FileProblem problem;
        const QString badSum = written(dir, QStringLiteral("a.hex"), ":0400000001020304F1\n:00000001FF\n");
        QCOMPARE(load(badSum, &problem), int(flashing::kInvalidFile));
        QCOMPARE(problem.error, flashing::HexError::BadChecksum);
        QCOMPARE(problem.line, size_t(1));

        const QString noEnd = written(dir, QStringLiteral("b.hex"), ":0400000001020304F2\n");
        QCOMPARE(load(noEnd, &problem), int(flashing::kInvalidFile));
        QCOMPARE(problem.error, flashing::HexError::MissingEndOfFile);

        QCOMPARE(load(written(dir, QStringLiteral("c.bin"), QByteArray()), &problem), int(flashing::kInvalidFile));
        QCOMPARE(problem.error, flashing::HexError::Empty);
        QCOMPARE(load(written(dir, QStringLiteral("d.BIN"), "\x01\x02")), int(flashing::kOk));
    }

    void pathsKeepTheirUnicode()
    {
        auto backend = std::make_unique<ScriptedBackend>();
        ScriptedBackend *raw = backend.get();
        BackendScope scope(std::move(backend));
        QTemporaryDir dir;
        const QString path = written(dir, QStringLiteral("atualização λ.bin"), "\x01\x02");
        QCOMPARE(flashing::downloadFile(utf16(path).c_str(), 0x08000000, 0, 1, u""), 0);
        QCOMPARE(raw->writtenImages.size(), size_t(1));
        QCOMPARE(raw->writtenImages[0].byteCount(), size_t(2));
    }
};

QTEST_MAIN(TestFirmwareFile)
#include "tst_firmwarefile.moc"
