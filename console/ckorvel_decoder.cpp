// Decoder: every input report into the report cache and typed events.
#include "console/ckorvel.h"

// TODO(console): implement.
void CKorvel::on_data_ready(QByteArray data)
{
    Q_UNUSED(data);
}
