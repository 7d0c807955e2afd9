#include "run/diagnosis.h"

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <QFile>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tqb9 {
namespace {

// Many ports of a station can fail at once, each diagnosed on its own thread: the reentrant
// lookups, with a buffer of each call's own.
std::vector<char> lookupBuffer()
{
    const long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    return std::vector<char>(static_cast<std::size_t>(size > 0 ? size : 16384));
}

bool accountInGroup(const struct group& gr)
{
    std::vector<char> buffer = lookupBuffer();
    struct passwd entry {};
    struct passwd* pw = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &pw) != 0 || !pw)
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
    // A group with many members needs more than the system's suggested size.
    std::vector<char> buffer = lookupBuffer();
    struct group entry {};
    struct group* gr = nullptr;
    int failed = 0;
    while ((failed = ::getgrgid_r(st.st_gid, &entry, buffer.data(), buffer.size(), &gr)) ==
               ERANGE &&
           buffer.size() < (std::size_t{1} << 20))
        buffer.resize(buffer.size() * 2);
    if (failed == 0 && gr) {
        facts.group = QString::fromLocal8Bit(gr->gr_name);
        facts.inGroupDatabase = accountInGroup(*gr);
    }
    if (facts.accessible)
        facts.holder = platform::findHolders(device);
    return facts;
}

} // namespace tqb9
