// SPDX-License-Identifier: GPL-3.0-or-later
// The manual flash window driven as a technician would, against the
// scripted flashing backend.
#include "windowparts.h"
#include "progress.h"
#include "programmer.h"
#include "modalanswerer.h"
#include "scriptedbackend.h"
#include "flashwindow.h"

#include <QtTest>
#include <QtWidgets>

// Four bytes at address 0: any chip's file will do here.
const QByteArray kSmallHex = ":0400000001020304F2\n:00000001FF\n";

class TestFlashWindow : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void connectWithoutDevice();
    void connectFailureAndTwoDevices();
    void fileChoiceKeepsAbsolutePath();
    void failedWrite();
    void reasonForARefusedFile();
    void closeIsRefusedDuringTheWrite();
    void successfulWriteClosesOnRemoval();

private:
    void connectAndChoose(FlashWindow &window);
    std::unique_ptr<BackendScope> scope;
    ScriptedBackend *backend = nullptr;
    std::unique_ptr<QTemporaryDir> dir;
};

void TestFlashWindow::init()
{
    auto owned = std::make_unique<ScriptedBackend>();
    backend = owned.get();
    scope = std::make_unique<BackendScope>(std::move(owned));
    flashing::setDisplayCallbacks({onProgressStart, onLogMessage, onProgressStep});
    progressAccumulator = 0.0f;
    dir = std::make_unique<QTemporaryDir>();
}

void TestFlashWindow::cleanup()
{
    scope.reset();
}

void TestFlashWindow::connectWithoutDevice()
{
    FlashWindow window;
    QVERIFY(!part<QPushButton>(&window, "SelectFileButton")->isEnabled());
    QVERIFY(!part<QPushButton>(&window, "FlashButton")->isEnabled());
    part<QPushButton>(&window, "ConnectButton")->click();
    QCOMPARE(part<QTextEdit>(&window, "textEdit")->toPlainText(),
             QStringLiteral("Procurando aparelho\n\nNenhum aparelho encontrado\n"));
    QVERIFY(!part<QPushButton>(&window, "SelectFileButton")->isEnabled());
    QVERIFY(backend->connectedIndexes.empty());
}

void TestFlashWindow::connectFailureAndTwoDevices()
{
    FlashWindow window;
    backend->deviceCount = 2;
    backend->connectResult = flashing::kUsbError;
    part<QPushButton>(&window, "ConnectButton")->click();
    QVERIFY(part<QTextEdit>(&window, "textEdit")->toPlainText().endsWith(QStringLiteral("Erro ao conectar\n")));
    QVERIFY(!part<QPushButton>(&window, "SelectFileButton")->isEnabled());

    backend->connectResult = 0;
    part<QPushButton>(&window, "ConnectButton")->click();
    QVERIFY(part<QTextEdit>(&window, "textEdit")->toPlainText().endsWith(QStringLiteral("Conectado\n")));
    QVERIFY(part<QPushButton>(&window, "SelectFileButton")->isEnabled());
    QCOMPARE(backend->connectedIndexes, (std::vector<std::string>{"USB0", "USB0"}));

    // A later failure does not take back the earlier success.
    backend->connectResult = flashing::kUsbError;
    part<QPushButton>(&window, "ConnectButton")->click();
    QVERIFY(part<QPushButton>(&window, "SelectFileButton")->isEnabled());
}

void TestFlashWindow::connectAndChoose(FlashWindow &window)
{
    backend->deviceCount = 1;
    part<QPushButton>(&window, "ConnectButton")->click();
    QFile file(dir->filePath(QStringLiteral("firmware.hex")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(kSmallHex);
    file.close();
    ModalAnswerer answerer;
    answerer.chooseFile(file.fileName());
    part<QPushButton>(&window, "SelectFileButton")->click();
    QCOMPARE(answerer.fileDialogs, 1);
}

void TestFlashWindow::fileChoiceKeepsAbsolutePath()
{
    FlashWindow window;
    window.show();
    backend->deviceCount = 1;
    part<QPushButton>(&window, "ConnectButton")->click();

    ModalAnswerer answerer;
    answerer.chooseFile(QString());
    part<QPushButton>(&window, "SelectFileButton")->click();
    QCOMPARE(answerer.fileDialogs, 1);
    QVERIFY(!part<QPushButton>(&window, "FlashButton")->isEnabled());

    const QString path = dir->filePath(QStringLiteral("k931 atualização.hex"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(kSmallHex);
    file.close();
    answerer.chooseFile(path);
    part<QPushButton>(&window, "SelectFileButton")->click();
    QVERIFY(part<QPushButton>(&window, "FlashButton")->isEnabled());
    ModalAnswerer boxes;
    part<QPushButton>(&window, "FlashButton")->click();
    QCOMPARE(backend->writtenImages.size(), size_t(1));
    QCOMPARE(backend->writtenImages[0].byteCount(), size_t(4));
}

void TestFlashWindow::failedWrite()
{
    FlashWindow window;
    window.show();
    connectAndChoose(window);
    backend->writeResult = flashing::kVerifyMismatch;

    ModalAnswerer answerer;
    bool buttonsDisabledBeforeBox = false;
    size_t writtenBefore = 0;
    answerer.onBox = [&](const ModalAnswerer::Box &box) {
        if (box.title != QStringLiteral("Importante"))
            return;
        buttonsDisabledBeforeBox = !part<QPushButton>(&window, "ConnectButton")->isEnabled()
                                && !part<QPushButton>(&window, "SelectFileButton")->isEnabled()
                                && !part<QPushButton>(&window, "FlashButton")->isEnabled();
        // The write waits for the box.
        QCOMPARE(backend->writtenImages.size(), writtenBefore);
    };
    part<QPushButton>(&window, "FlashButton")->click();
    QVERIFY(buttonsDisabledBeforeBox);
    QCOMPARE(answerer.boxes.size(), 1);
    QCOMPARE(answerer.boxes[0].title, QStringLiteral("Importante"));
    QCOMPARE(answerer.boxes[0].text, QStringLiteral("Não desconecte o aparelho"));
    // The old line, then why: here the device's fault.
    QVERIFY(part<QTextEdit>(&window, "textEdit")->toPlainText().endsWith(
        QStringLiteral("Impossivel Atualizar\nA memória gravada no aparelho difere do arquivo")));
    QCOMPARE(backend->writtenImages.size(), size_t(1));

    // Connected again, the same file goes in: the window is not left dead.
    QVERIFY(part<QPushButton>(&window, "ConnectButton")->isEnabled());
    QVERIFY(!part<QPushButton>(&window, "FlashButton")->isEnabled());
    part<QPushButton>(&window, "ConnectButton")->click();
    QVERIFY(part<QPushButton>(&window, "FlashButton")->isEnabled());
    backend->writeResult = flashing::kOk;
    writtenBefore = 1;
    part<QPushButton>(&window, "FlashButton")->click();
    QCOMPARE(backend->writtenImages.size(), size_t(2));
    QVERIFY(part<QTextEdit>(&window, "textEdit")->toPlainText().endsWith(QStringLiteral("Atualizado")));
}

// The technician learns whether the file or the device is at fault, and
// where in the file.
void TestFlashWindow::reasonForARefusedFile()
{
    FlashWindow window;
    window.show();
    connectAndChoose(window);
    QFile file(dir->filePath(QStringLiteral("firmware.hex")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(":020000040800F2\n:0400000001020304F1\n:00000001FF\n"); // line 2: checksum
    file.close();
    backend->writeResult = flashing::kInvalidFile;
    {
        ModalAnswerer answerer;
        part<QPushButton>(&window, "FlashButton")->click();
        // Refused before the write: no warning about the cable.
        QVERIFY(answerer.boxes.isEmpty());
    }
    QVERIFY(part<QTextEdit>(&window, "textEdit")->toPlainText().endsWith(
        QStringLiteral("Impossivel Atualizar\nArquivo inválido, linha 2: checksum incorreto")));

    FlashWindow second;
    second.show();
    connectAndChoose(second);
    backend->writeResult = flashing::kAddressOutsideFlash;
    ModalAnswerer answerer;
    part<QPushButton>(&second, "FlashButton")->click();
    QVERIFY(part<QTextEdit>(&second, "textEdit")->toPlainText().endsWith(
        QStringLiteral("Arquivo com dados fora da memória flash do aparelho")));
}

// Closed during the write, the window would vanish with the write going on.
void TestFlashWindow::closeIsRefusedDuringTheWrite()
{
    FlashWindow window;
    window.show();
    connectAndChoose(window);
    bool closedDuringWrite = true;
    backend->duringWrite = [&] { closedDuringWrite = window.close(); };
    ModalAnswerer answerer;
    part<QPushButton>(&window, "FlashButton")->click();
    QVERIFY(!closedDuringWrite);
    QVERIFY(window.isVisible());
    QVERIFY(part<QTextEdit>(&window, "textEdit")->toPlainText().contains(QStringLiteral("Aguarde o fim da atualização")));
    QVERIFY(window.close());
}

void TestFlashWindow::successfulWriteClosesOnRemoval()
{
    FlashWindowConfiguration quick;
    quick.removalPollMs = 100;
    FlashWindow window(nullptr, quick);
    window.show();
    connectAndChoose(window);
    for (int i = 0; i < 10; ++i)
        backend->script.push_back({ScriptedBackend::Call::Step, 10});

    // After a connection animation the accumulator stands at 100; the bar
    // of this write must still start from 0.
    progressAccumulator = 100.0f;
    int barWhileWarned = -1;
    ModalAnswerer answerer;
    answerer.onBox = [&](const ModalAnswerer::Box &box) {
        if (box.title == QLatin1String("Importante")) {
            QTest::qWait(3 * quick.progressTickMs); // its progress timer already runs
            barWhileWarned = part<QProgressBar>(&window, "progressBar")->value();
        }
    };
    part<QPushButton>(&window, "FlashButton")->click();
    QCOMPARE(barWhileWarned, 0);
    QCOMPARE(answerer.boxes.size(), 2);
    QCOMPARE(answerer.boxes[1].title, QStringLiteral("Sucesso"));
    QCOMPARE(answerer.boxes[1].text, QStringLiteral("Desconecte o aparelho"));
    QVERIFY(part<QTextEdit>(&window, "textEdit")->toPlainText().endsWith(QStringLiteral("Atualizado")));
    QCOMPARE(part<QProgressBar>(&window, "progressBar")->value(), 100);

    // Still listed: the window stays; unplugged: it closes.
    QTest::qWait(3 * quick.removalPollMs);
    QVERIFY(window.isVisible());
    backend->deviceCount = 0;
    QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), 1500);

    // Shown again with no device, it closes again, buttons still disabled.
    window.show();
    QVERIFY(!part<QPushButton>(&window, "ConnectButton")->isEnabled());
    QVERIFY(!part<QPushButton>(&window, "FlashButton")->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), 1500);
}

QTEST_MAIN(TestFlashWindow)
#include "tst_flashwindow.moc"
