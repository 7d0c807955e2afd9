#include "sim/simradio.h"

#include "sim/ptytransport.h"

#include <QScopeGuard>

namespace tqb9::sim {

using namespace std::chrono_literals;

SimRadio::SimRadio(QObject* parent) : QObject(parent)
{
    connect(&m_model, &FlashModel::errorRecorded, this, &SimRadio::errorRecorded);
    connect(&m_delivery, &Delivery::failed, this, &SimRadio::hangUp);
}

SimRadio::~SimRadio() = default;

bool SimRadio::start(QString* error)
{
    if (m_transport) {
        if (error)
            *error = QStringLiteral("the radio has already been started");
        return false;
    }
    auto pty = std::make_unique<PtyTransport>(
        m_delivery, [this](QByteArrayView bytes) { take(bytes); }, [this] { hangUp(); });
    if (!pty->open(error))
        return false;
    m_devicePath = pty->devicePath();
    m_transport = std::move(pty);
    return true;
}

void SimRadio::attach(Wire wire)
{
    m_transport = std::make_unique<WireTransport>(std::move(wire));
}

void SimRadio::hangUp()
{
    if (!isRunning())
        return;
    m_transport->close();
    emit hungUp();
}

void SimRadio::setPresent(bool present)
{
    if (present == m_present)
        return;
    m_present = present;
    if (present) {
        ++m_radioNumber;
        m_framer = RequestFramer();
        m_model.reset();
        m_log.clear();
    } else {
        m_delivery.drop();
    }
    emit presenceChanged(present);
}

void SimRadio::take(QByteArrayView bytes)
{
    if (!m_present)
        return;
    // What answers one read of the program's bytes goes out in one write, as a cable's echo
    // comes as one stream: a program never sees the packet's header echoed apart from the rest.
    m_delivery.hold();
    const auto sendTaken = qScopeGuard([this] { m_delivery.release(); });
    qsizetype pos = 0;
    while (pos < bytes.size() && isRunning()) {
        const QByteArrayView rest = bytes.sliced(pos);
        const RequestFramer::Step step = m_framer.take(rest, m_model.inFlashMode());
        pos += step.taken;
        if (step.began)
            m_line = m_transport->lineSettings();
        if (step.identified) {
            m_response.begin(m_framer.request());
            if (m_response.response().echo)
                send(m_framer.received());
        } else if (m_framer.isIdentified() && m_response.response().echo) {
            send(rest.first(step.taken));
        }
        if (step.complete)
            complete();
    }
}

void SimRadio::complete()
{
    Exchange exchange;
    exchange.request = m_framer.request();
    exchange.request.bytes = m_framer.received();
    exchange.echoed = m_response.response().echo;
    exchange.delay = m_response.response().delay;
    exchange.line = m_line;
    const int index = static_cast<int>(m_log.size());
    m_log.append(exchange);

    if (m_line != kExpectedLine) {
        m_model.recordError(ErrorKind::WrongLineSettings,
                            QStringLiteral("%1 arrived at %2, not %3")
                                .arg(commandName(exchange.request.command), m_line.toString(),
                                     kExpectedLine.toString()),
                            index);
    }

    const FlashModel::Outcome own = m_model.perform(exchange.request, m_framer.isPacket(), index);
    const ScriptedResponse::Answer answer = m_response.finish(own.reply, own.endsSession);
    if (answer.delay > 0ms && m_transport) {
        // A reply still pending when its radio is taken off never comes, not from the next one.
        const int radio = m_radioNumber;
        m_transport->after(answer.delay, [this, index, answer, radio] {
            if (m_present && m_radioNumber == radio)
                deliver(index, answer);
        });
    } else
        deliver(index, answer);
}

void SimRadio::deliver(int index, const ScriptedResponse::Answer& answer)
{
    if (!isRunning())
        return;
    send(answer.bytes);
    Exchange& exchange = m_log[index];
    exchange.reply = answer.bytes;
    exchange.sent = true;
    exchange.hungUp = answer.hangUp;
    if (answer.hangUp)
        m_transport->whenDrained([this] { hangUp(); });
    else if (answer.endsSession)
        m_transport->whenDrained([this] { emit sessionEnded(); });
    emit requestHandled(index);
}

void SimRadio::send(QByteArrayView bytes)
{
    if (!bytes.isEmpty() && isRunning())
        m_transport->send(bytes);
}

} // namespace tqb9::sim
