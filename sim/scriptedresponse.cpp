#include "sim/scriptedresponse.h"

#include <algorithm>

namespace tqb9::sim {

void ScriptedResponse::begin(const Request& request)
{
    m_response = Response{};
    if (m_script) {
        if (std::optional<Response> response = m_script(request))
            m_response = std::move(*response);
    }
}

ScriptedResponse::Answer ScriptedResponse::finish(const QByteArray& own, bool endsSession)
{
    QByteArray reply = m_response.reply.value_or(own);
    reply.chop(std::max(0, m_response.cut));
    Answer answer;
    // Only the radio's own "ED" ends the session for whoever waits on it: a script that
    // swallows or damages it means the program will try again.
    answer.endsSession = endsSession && !own.isEmpty() && reply == own;
    answer.bytes = m_response.garbage + reply;
    answer.hangUp = m_response.hangUp;
    answer.delay = m_response.delay;
    m_response = Response{};
    return answer;
}

} // namespace tqb9::sim
