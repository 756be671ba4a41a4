// SPDX-License-Identifier: GPL-3.0-or-later
#include "simulatedk931.h"

#include "chipid.h"
#include "serialtestbed.h"
#include "settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QTimer>

#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kSplitDelayMs = 40;

// The version text the simulated firmware reports until a written image
// says otherwise; every other value is the device's default from the table.
constexpr const char *kFactoryVersion = "K931 V1.5 Boost";

QByteArray defaultValue(const settings::Key &key)
{
    return key.kind == settings::Kind::Version ? QByteArray(kFactoryVersion) : QByteArray(key.factoryReply);
}

bool isFloatSetting(const QByteArray &mnemonic)
{
    const settings::Key *key = settings::keyFor(mnemonic);
    return key && settings::isFloat(key->kind);
}

} // namespace

SimulatedK931::SimulatedK931(SerialTestbed &bed, QObject *parent)
    : SimulatedK931(bed, Identity(), parent)
{
}

SimulatedK931::SimulatedK931(SerialTestbed &bed, Identity id, QObject *parent)
    : QObject(parent)
    , testbed(bed)
    , identity(id)
{
    serialNumber = QByteArray::fromStdString(ChipId::ofDevice(id.index).usbSerial());
    for (const settings::Key &key : settings::readout())
        values.insert(key.mnemonic(), defaultValue(key));
}

void SimulatedK931::restoreDefaultSettings()
{
    for (const settings::Key &key : settings::readout()) {
        if (key.kind != settings::Kind::Version)
            values[key.mnemonic()] = defaultValue(key);
    }
}

SimulatedK931::~SimulatedK931()
{
    unplug();
}

QString SimulatedK931::portName() const
{
    return QStringLiteral("ttyACM%1").arg(testbed.firstPort() + identity.index);
}

QByteArray SimulatedK931::ttySysPath() const
{
    return "/devices/pci0000:00/0000:00:14.0/usb1/1-" + QByteArray::number(identity.index + 1) + "/1-"
         + QByteArray::number(identity.index + 1) + ":1.0/tty/" + portName().toLatin1();
}

QByteArray SimulatedK931::description() const
{
    const QByteArray port = "1-" + QByteArray::number(identity.index + 1);
    const QByteArray usb = "/devices/pci0000:00/0000:00:14.0/usb1/" + port;
    const QByteArray vid = QByteArray::number(identity.vendorId, 16).rightJustified(4, '0');
    const QByteArray pid = QByteArray::number(identity.productId, 16).rightJustified(4, '0');
    // udev's usb_id puts these on the tty too; Qt reads ID_SERIAL_SHORT there.
    const QByteArray serialLines = serialNumber.isEmpty()
        ? QByteArray("\nE: ID_SERIAL=Tarvik_K931")
        : "\nE: ID_SERIAL=Tarvik_K931_" + serialNumber + "\nE: ID_SERIAL_SHORT=" + serialNumber;
    return "P: " + usb + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: ID_VENDOR_ID=" + vid
         + "\nE: ID_MODEL_ID=" + pid + serialLines
         + "\nA: idVendor=" + vid + "\nA: idProduct=" + pid + "\nA: manufacturer=Tarvik\nA: product=K931\n\n"
         + "P: " + usb + "/" + port + ":1.0\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nE: DRIVER=cdc_acm\n"
         + "A: bInterfaceClass=02\n\n"
         + "P: " + ttySysPath() + "\nE: DEVNAME=/dev/" + portName().toLatin1()
         + "\nE: SUBSYSTEM=tty\nE: ID_VENDOR_ID=" + vid + "\nE: ID_MODEL_ID=" + pid + serialLines
         + "\nA: dev=166:" + QByteArray::number(testbed.firstPort() + identity.index) + "\n";
}

bool SimulatedK931::plug()
{
    if (master >= 0)
        return true;
    // A pty of our own for each plug: umockdev's own cannot be re-created.
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        unplug();
        return false;
    }
    const QByteArray slavePath = ptsname(master);
    // Kept open so that the master does not report a hang-up before the
    // program opens the port.
    slave = ::open(slavePath.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);

    ttyPath = QString::fromLatin1(slavePath);
    if (onTestbed) {
        const QString node = testbed.rootDir() + QStringLiteral("/dev/") + portName();
        QFile::remove(node);
        QFile::link(ttyPath, node);
        if (!testbed.addDevices(description())) {
            unplug();
            return false;
        }
        testbed.attachTtyHandler(QStringLiteral("/dev/") + portName());
    }

    buffer.clear();
    received.clear();
    notifier = std::make_unique<QSocketNotifier>(master, QSocketNotifier::Read);
    connect(notifier.get(), &QSocketNotifier::activated, this, &SimulatedK931::readFromProgram);
    sincePlug.start();
    return true;
}

void SimulatedK931::unplug()
{
    if (master < 0 && slave < 0)
        return;
    notifier.reset();
    if (onTestbed) {
        const QByteArray tty = "/sys" + ttySysPath();
        testbed.removeDevice(tty);
        testbed.removeDevice(tty.left(tty.indexOf("/tty/")));
        testbed.removeDevice(tty.left(tty.lastIndexOf('/', tty.indexOf("/tty/") - 1)));
        QFile::remove(testbed.rootDir() + QStringLiteral("/dev/") + portName());
    }
    ttyPath.clear();
    if (slave >= 0)
        ::close(slave);
    if (master >= 0)
        ::close(master);
    slave = master = -1;
}

QList<QByteArray> SimulatedK931::receivedBytes() const
{
    QList<QByteArray> list;
    for (const Message &m : received)
        list << m.bytes;
    return list;
}

void SimulatedK931::readFromProgram()
{
    char chunk[512];
    const ssize_t n = ::read(master, chunk, sizeof chunk);
    if (n <= 0)
        return;
    buffer.append(chunk, int(n));
    // Queries are 5 bytes, set commands 9, the bootloader command 4.
    for (;;) {
        int length = 0;
        if (buffer.startsWith('?'))
            length = 5;
        else if (buffer.startsWith('>'))
            length = 9;
        else if (buffer.startsWith("BOOT"))
            length = 4;
        else if (!buffer.isEmpty() && !QByteArray("BOOT").startsWith(buffer.left(4)))
            length = int(buffer.size()); // unknown bytes: taken as they came
        if (length == 0 || buffer.size() < length)
            return;
        const QByteArray message = buffer.left(length);
        buffer.remove(0, length);
        handle(message);
    }
}

void SimulatedK931::handle(const QByteArray &message)
{
    received.append({message, sincePlug.elapsed()});
    emit messageReceived(message);
    if (message.startsWith('?'))
        answerQuery(message.mid(1, 4));
    else if (message.startsWith('>'))
        applySetCommand(message);
    else if (message == "BOOT") {
        emit bootReceived();
        if (leaveOnBoot)
            QTimer::singleShot(0, this, &SimulatedK931::unplug);
    }
}

void SimulatedK931::answerQuery(const QByteArray &mnemonic)
{
    if (!values.contains(mnemonic))
        return;
    const QByteArray reply = '>' + mnemonic + values.value(mnemonic);
    switch (behaviours.value(mnemonic, Behaviour::Answer)) {
    case Behaviour::Silent:
        return;
    case Behaviour::Split:
        send(reply.left(5));
        QTimer::singleShot(kSplitDelayMs, this, [this, rest = reply.mid(5)] { send(rest); });
        return;
    case Behaviour::JoinWithNext: {
        // The program asks the next query only after this reply, so both go
        // out now, as one chunk.
        const settings::Key *next = settings::nextInChain(settings::keyFor(mnemonic));
        send(next ? reply + '>' + next->mnemonic() + values.value(next->mnemonic()) : reply);
        return;
    }
    case Behaviour::TrailingCR:
        send(reply + '\r');
        return;
    case Behaviour::Echo:
        send('?' + mnemonic);
        return;
    case Behaviour::Garbage:
        send(QByteArray("\x00\xff#garbage", 10));
        return;
    case Behaviour::Answer:
        send(reply);
        return;
    }
}

void SimulatedK931::applySetCommand(const QByteArray &message)
{
    const QByteArray mnemonic = message.mid(1, 4);
    if (ignoredSettings.contains(mnemonic))
        return;
    const quint32 raw = quint32(quint8(message[5])) << 24 | quint32(quint8(message[6])) << 16
                      | quint32(quint8(message[7])) << 8 | quint32(quint8(message[8]));
    if (isFloatSetting(mnemonic)) {
        float value = 0;
        std::memcpy(&value, &raw, sizeof value);
        values[mnemonic] = QByteArray::number(value);
    } else {
        values[mnemonic] = QByteArray::number(raw);
    }
}

// As another serial program does: the UUCP-style lock file that serial
// programs (Qt's among them) take, in the first usable lock folder. TIOCEXCL
// would not do here: it does not stop root.
void SimulatedK931::holdPortExclusively(bool exclusive)
{
    if (!exclusive) {
        portLock.reset();
        return;
    }
    for (const char *dir : {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp", "/tmp", "/var/tmp",
                            "/var/lock/lockdev", "/run/lock"}) {
        const QFileInfo info(QString::fromLatin1(dir));
        const QString path = info.filePath() + QStringLiteral("/LCK..") + portName();
        if (info.isReadable() && (QFile::exists(path) || info.isWritable())) {
            portLock = std::make_unique<QLockFile>(path);
            portLock->tryLock();
            return;
        }
    }
}

void SimulatedK931::send(const QByteArray &bytes)
{
    if (master >= 0 && !bytes.isEmpty())
        (void)::write(master, bytes.constData(), size_t(bytes.size()));
}
