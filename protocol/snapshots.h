#pragma once

#include "console/reportid.h"
#include "protocol/snapshotsource.h"

class CKorvel;
class StartupState;

namespace korvel::protocol {

// The state and configuration snapshots, read from the console's report cache through the catalogue's layouts.
// A payload the console has not sent, or one too short for every field of every member, leaves its key out
// rather than guessing; a code with no word in its list leaves its field (or its member) out.
class Snapshots final : public SnapshotSource {
public:
    Snapshots(const CKorvel &console, const StartupState &startup);

    void get_states(QJsonObject &data) override;
    void get_config(QJsonObject &data) override;
    void get_all_data(QJsonObject &data) override;
    void get_firmware(QJsonObject &data) override { put(data, ReportId::firmware); }
    bool state_complete() const override;

    // Sets the one key that the reports of an item feed, as get_all_data() sets it: the key of the item's
    // notification, so that a notification needs no more than this rebuilt. Nothing for an item without a key
    // (metering) or not yet reported in full.
    void put(QJsonObject &data, ReportId id) const;

private:
    // Every key of the rows whose key is, or is not, a configuration key.
    void put_keys(QJsonObject &data, bool config) const;

    const CKorvel &console;
    const StartupState &startup;
};

} // namespace korvel::protocol
