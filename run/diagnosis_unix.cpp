#include "run/diagnosis.h"

#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <QFile>
#include <sys/stat.h>
#include <unistd.h>

namespace tqb9 {
namespace {

bool accountInGroup(const struct group& gr)
{
    const struct passwd* pw = ::getpwuid(::geteuid());
    if (!pw)
        return false;
    if (pw->pw_gid == gr.gr_gid)
        return true;
    for (char** member = gr.gr_mem; member && *member; ++member) {
        if (std::strcmp(*member, pw->pw_name) == 0)
            return true;
    }
    return false;
}

} // namespace

DeviceFacts probeDevice(const QString& device)
{
    DeviceFacts facts;
    const QByteArray path = QFile::encodeName(device);
    struct stat st {};
    if (::stat(path.constData(), &st) != 0)
        return facts;
    facts.exists = true;
    facts.accessible = ::access(path.constData(), R_OK | W_OK) == 0;
    if (const struct group* gr = ::getgrgid(st.st_gid)) {
        facts.group = QString::fromLocal8Bit(gr->gr_name);
        facts.inGroupDatabase = accountInGroup(*gr);
    }
    if (facts.accessible)
        facts.holder = platform::findHolders(device);
    return facts;
}

} // namespace tqb9
