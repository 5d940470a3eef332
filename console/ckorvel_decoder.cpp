// Decoder: every input report into the report cache and typed events.
#include "console/ckorvel.h"

// TODO(console): the full decoder. For now state reports and echoes are only cached.
void CKorvel::on_data_ready(QByteArray data)
{
    if (data.size() < 2)
        return;
    const auto type = static_cast<unsigned char>(data.at(1));
    if ((type >> 6) == 2 || (type >> 6) == 3)
        cache[type & 0x3F] = data.mid(2);
}
