// The library's six calls: what the dispatch does on its own and what the
// backend without devices answers.
#include "flashing/backends.h"
#include "flashing/programmer.h"
#include "support/scriptedbackend.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

std::u16string utf16(const QString &s)
{
    return std::u16string(reinterpret_cast<const char16_t *>(s.utf16()), size_t(s.size()));
}

} // namespace

class TestProgrammer : public QObject {
    Q_OBJECT
private slots:
    void noDeviceBackend()
    {
        BackendScope scope(std::make_unique<flashing::NoDeviceBackend>());
        flashing::DfuDeviceInfo *list = nullptr;
        QCOMPARE(flashing::getDfuDeviceList(&list, 0xDF11, 0x0483), 0);
        QVERIFY(list);
        QCOMPARE(flashing::connectDfuBootloader("USB0"), int(flashing::kDeviceNotFound));

        QTemporaryDir dir;
        const QString missing = dir.filePath(QStringLiteral("nada.hex"));
        QCOMPARE(flashing::downloadFile(utf16(missing).c_str(), 0x08000000, 0, 1, u""),
                 int(flashing::kFileNotFound));
        // A directory is no firmware file either.
        QCOMPARE(flashing::downloadFile(utf16(dir.path()).c_str(), 0x08000000, 0, 1, u""),
                 int(flashing::kFileNotFound));
        QCOMPARE(flashing::downloadFile(u"", 0x08000000, 0, 1, u""), int(flashing::kFileNotFound));

        QFile file(dir.filePath(QStringLiteral("fw.hex")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(":00000001FF\n");
        file.close();
        QCOMPARE(flashing::downloadFile(utf16(file.fileName()).c_str(), 0x08000000, 0, 1, u""),
                 int(flashing::kNotConnected));
        QVERIFY(flashing::connectDfuBootloader(nullptr) != 0);
    }

    void resultCodesAreDistinct()
    {
        const int codes[] = {flashing::kNotConnected, flashing::kInvalidFile, flashing::kAddressOutsideFlash,
                             flashing::kFileNotFound, flashing::kUsbError, flashing::kEraseError,
                             flashing::kWriteError, flashing::kVerifyMismatch, flashing::kReadProtected,
                             flashing::kDeviceNotFound, flashing::kNoDfuInterface, flashing::kBadArgument,
                             flashing::kBusy};
        QSet<int> seen;
        QSet<QString> texts;
        for (int code : codes) {
            QVERIFY(code != 0);
            seen.insert(code);
            texts.insert(QString::fromLatin1(flashing::resultText(code)));
        }
        QCOMPARE(seen.size(), int(std::size(codes)));
        QCOMPARE(texts.size(), int(std::size(codes)));
        QCOMPARE(flashing::kFileNotFound, -4);
    }

    void pathsKeepTheirUnicode()
    {
        auto backend = std::make_unique<ScriptedBackend>();
        ScriptedBackend *raw = backend.get();
        BackendScope scope(std::move(backend));
        const QString path = QStringLiteral("/tmp/atualização λ/fw.hex");
        QCOMPARE(flashing::downloadFile(utf16(path).c_str(), 0x08000000, 0, 1, u""), 0);
        QCOMPARE(QString::fromStdString(raw->writtenPaths.at(0)), path);
    }
};

QTEST_MAIN(TestProgrammer)
#include "tst_programmer.moc"
