#include "console/valuelists.h"

namespace korvel {

int lookup_word(const QStringList &list, const QString &word)
{
    return static_cast<int>(list.indexOf(word));
}

const QString &name_of(const QStringList &list, int position)
{
    return list.at(position);
}

int member_count(const QStringList &list)
{
    return static_cast<int>(list.size()) - 1;
}

} // namespace korvel
