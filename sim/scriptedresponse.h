#pragma once

#include "sim/requestframer.h"

#include <chrono>
#include <functional>
#include <optional>
#include <QByteArray>

namespace tqb9::sim {

// How a script bends the radio's answer to one request. A default-constructed Response changes
// nothing, so a script only sets what it wants to break.
struct Response {
    // Sent instead of the radio's own reply (framed for the query, plain otherwise); an empty
    // array is silence.
    std::optional<QByteArray> reply{};
    // Bytes dropped from the end of the reply: 1 loses the LF, 3 leaves only the first letter.
    int cut = 0;
    // Sent after the echo, before the reply.
    QByteArray garbage{};
    // Counted from the request's last byte; the echo is not delayed.
    std::chrono::milliseconds delay{0};
    bool echo = true;
    // Hang up once the reply (or, without one, the echo) has been read by the program.
    bool hangUp = false;
};

// Called once per request, as soon as it is identified; nullopt keeps the radio's own behaviour.
using Script = std::function<std::optional<Response>(const Request&)>;

// The script's say over the request coming in: asked once the request is identified, applied to
// the radio's own reply once the request is whole.
class ScriptedResponse {
public:
    // What follows the echo, and what becomes of the line afterwards.
    struct Answer {
        QByteArray bytes; // garbage and reply, as sent
        bool endsSession = false;
        bool hangUp = false;
        std::chrono::milliseconds delay{0};
    };

    void setScript(Script script) { m_script = std::move(script); }

    void begin(const Request& request);
    // The response begin() settled on, until finish().
    const Response& response() const { return m_response; }
    // Bends the radio's own reply as scripted and forgets the response; endsSession says whether
    // the own reply would end the session.
    Answer finish(const QByteArray& own, bool endsSession);

private:
    Script m_script;
    Response m_response;
};

} // namespace tqb9::sim
