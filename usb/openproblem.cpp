#include "usb/openproblem.h"

#include <hidapi.h>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {
// strerror's words in the process's locale, as the library wrote them into its error text.
bool says(const QString &error, int code)
{
    return error.endsWith(QString::fromLocal8Bit(std::strerror(code)));
}
} // namespace

OpenProblem OpenProblem::diagnose(int vid, int pid)
{
    // Read before the enumeration, which may replace the library's last error.
    const wchar_t *said = hid_error(nullptr);
    const QString error = said ? QString::fromWCharArray(said) : QString();

    hid_device_info *found =
        hid_enumerate(static_cast<unsigned short>(vid & 0xFFFF), static_cast<unsigned short>(pid & 0xFFFF));
    bool node_refused = false;
    for (const hid_device_info *info = found; info; info = info->next) {
        if (info->path && access(info->path, R_OK | W_OK) != 0 && (errno == EACCES || errno == EPERM))
            node_refused = true;
    }
    const bool listed = found != nullptr;
    hid_free_enumeration(found);
    return classify(listed, node_refused, error);
}

OpenProblem OpenProblem::classify(bool listed, bool node_refused, const QString &error)
{
    if (!listed)
        return {Kind::absent, error};
    if (node_refused || says(error, EACCES) || says(error, EPERM))
        return {Kind::not_permitted, error};
    return {Kind::failing, error};
}

void OpenProblemReport::set(const OpenProblem &next)
{
    if (next == problem)
        return;
    problem = next;
    emit changed(problem);
}
