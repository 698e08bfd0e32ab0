// A Qt application as J2534 users write them: Qt SerialBus's J2534 plugin ("passthrucan") drives
// the library named on the command line, against the simulated device with its traffic generator
// (identifier 0x100, a sequence number in the first four bytes) and ECU. The plugin declares the
// J2534 integers as the standard header does, so on 64-bit Linux it needs libvtxpts-ulong.so.
// Each check prints one line; the last line counts them.
//   vtx_qt_client LIBRARY
#include <QtCore/QCoreApplication>
#include <QtCore/QEventLoop>
#include <QtCore/QTimer>
#include <QtCore/QVariant>
#include <QtSerialBus/QCanBus>
#include <QtSerialBus/QCanBusDevice>
#include <QtSerialBus/QCanBusFrame>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

// Long enough for anything the checks wait for on a loaded machine: only a broken build
// reaches it.
constexpr int kHangGuardMs = 30000;
constexpr quint32 kGeneratorId = 0x100;
constexpr int kErrorsShown = 5;  // the plugin reports a failed call at every poll

class Client {
  public:
    explicit Client(QCanBusDevice& device) : device_(device) {
        QObject::connect(&device_, &QCanBusDevice::framesReceived, [this] { takeFrames(); });
        QObject::connect(&device_, &QCanBusDevice::errorOccurred,
                         [this](QCanBusDevice::CanBusError) {
                             if (++errors_ <= kErrorsShown) {
                                 std::printf("  error: %s\n", qPrintable(device_.errorString()));
                             }
                         });
    }

    // Runs the event loop until done() holds; false at the hang guard.
    bool waitFor(const std::function<bool()>& done) {
        QEventLoop loop;
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (done()) {
                loop.quit();
            }
        });
        guard.start(kHangGuardMs);
        poll.start(5);
        if (!done()) {
            loop.exec();
        }
        return done();
    }

    bool send(quint32 id, bool extended, const QByteArray& payload) {
        QCanBusFrame frame(id, payload);
        frame.setExtendedFrameFormat(extended);
        return device_.writeFrame(frame);
    }

    // Sends an OBD request for a PID and waits for the ECU's positive answer from answerId.
    bool exchange(quint32 requestId, quint32 answerId, bool extended, char pid) {
        const qsizetype before = frames_.size();
        if (!send(requestId, extended, QByteArray::fromRawData("\x02\x01", 2) + pid)) {
            return false;
        }
        return waitFor([&] { return answerAfter(before, answerId, extended, pid) >= 0; });
    }

    // The index of the ECU's answer for pid from answerId received at or after from; -1: none.
    qsizetype answerAfter(qsizetype from, quint32 answerId, bool extended, char pid) const {
        for (qsizetype i = from; i < frames_.size(); ++i) {
            const QCanBusFrame& frame = frames_[i];
            const QByteArray payload = frame.payload();
            if (frame.frameId() == answerId && frame.hasExtendedFrameFormat() == extended &&
                payload.size() >= 3 && payload[1] == char(0x41) && payload[2] == pid) {
                return i;
            }
        }
        return -1;
    }

    // The generator's sequence numbers among the frames from..to.
    QList<quint32> generatorSequence(qsizetype from, qsizetype to) const {
        QList<quint32> sequence;
        for (qsizetype i = from; i < to && i < frames_.size(); ++i) {
            const QCanBusFrame& frame = frames_[i];
            if (frame.frameId() == kGeneratorId && !frame.hasExtendedFrameFormat()) {
                const QByteArray p = frame.payload();
                sequence.append(quint32(quint8(p[0])) << 24 | quint32(quint8(p[1])) << 16 |
                                quint32(quint8(p[2])) << 8 | quint8(p[3]));
            }
        }
        return sequence;
    }

    qsizetype received() const { return frames_.size(); }
    int errors() const { return errors_; }

  private:
    void takeFrames() {
        while (device_.framesAvailable() > 0) {
            frames_.append(device_.readFrame());
        }
    }

    QCanBusDevice& device_;
    QList<QCanBusFrame> frames_;
    int errors_ = 0;
};

bool consecutive(const QList<quint32>& sequence) {
    for (qsizetype i = 1; i < sequence.size(); ++i) {
        if (sequence[i] != sequence[i - 1] + 1) {
            return false;
        }
    }
    return true;
}

struct Tally {
    int passed = 0;
    int failed = 0;
    void check(const char* what, bool ok) {
        std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
        ++(ok ? passed : failed);
    }
};

// Pass filter for 0x7E8 alone, 11-bit frames only: the generator's frames stop.
bool filterToTheEcu(QCanBusDevice& device, Client& client, Tally& tally) {
    QCanBusDevice::Filter ecu;
    ecu.frameId = 0x7E8;
    ecu.frameIdMask = 0x7FF;
    ecu.format = QCanBusDevice::Filter::MatchBaseFormat;
    ecu.type = QCanBusFrame::DataFrame;
    device.setConfigurationParameter(QCanBusDevice::RawFilterKey,
                                     QVariant::fromValue(QList<QCanBusDevice::Filter>{ecu}));
    // The first answer after the filter: the generator's frames queued before it may precede it,
    // none may follow it across two more exchanges.
    if (!client.exchange(0x7DF, 0x7E8, false, 0x0C)) {
        return false;
    }
    const qsizetype from = client.received();
    const bool answered =
        client.exchange(0x7DF, 0x7E8, false, 0x0D) && client.exchange(0x7DF, 0x7E8, false, 0x05);
    tally.check("filter: only the ECU's 0x7E8 frames after it",
                answered && client.generatorSequence(from, client.received()).isEmpty());
    return answered;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s LIBRARY\n", argv[0]);
        return 2;
    }
    QString error;
    std::unique_ptr<QCanBusDevice> device(
        QCanBus::instance()->createDevice(QStringLiteral("passthrucan"), argv[1], &error));
    if (!device) {
        std::printf("FAILED: the passthrucan plugin: %s\n0 passed, 1 failed\n", qPrintable(error));
        return 1;
    }
    device->setConfigurationParameter(QCanBusDevice::BitRateKey, QVariant(500000));
    Client client(*device);
    Tally tally;

    device->connectDevice();
    tally.check("connect",
                client.waitFor([&] { return device->state() == QCanBusDevice::ConnectedState; }));
    if (device->state() == QCanBusDevice::ConnectedState) {
        tally.check("receive the generator's frames, in order, none lost", client.waitFor([&] {
            const QList<quint32> sequence = client.generatorSequence(0, client.received());
            return sequence.size() >= 20 && consecutive(sequence);
        }));
        tally.check("11-bit OBD exchange (0x7DF, answer from 0x7E8)",
                    client.exchange(0x7DF, 0x7E8, false, 0x0C));
        tally.check("29-bit OBD exchange (0x18DB33F1, answer from 0x18DAF110)",
                    client.exchange(0x18DB33F1, 0x18DAF110, true, 0x0D));
        if (!filterToTheEcu(*device, client, tally)) {
            tally.check("filter: the ECU still answers", false);
        }
        tally.check("no error reported", client.errors() == 0);
        if (client.errors() > kErrorsShown) {
            std::printf("  (%d errors in all)\n", client.errors());
        }
        device->disconnectDevice();
        tally.check("disconnect", client.waitFor([&] {
            return device->state() == QCanBusDevice::UnconnectedState;
        }));
    }
    std::printf("%d passed, %d failed\n", tally.passed, tally.failed);
    return tally.failed == 0 ? 0 : 1;
}
