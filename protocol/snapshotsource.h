#pragma once

class QJsonObject;

namespace korvel::protocol {

// Where the queries read the console's state and configuration: the snapshot builders. Each sets its keys of
// data from the report cache.
class SnapshotSource {
public:
    virtual void get_states(QJsonObject &data) = 0;
    virtual void get_config(QJsonObject &data) = 0;
    // Both of them: the "data" of the "all" reply.
    virtual void get_all_data(QJsonObject &data) = 0;
    virtual void get_firmware(QJsonObject &data) = 0;
    // Whether the console has answered its start-up requests since the link opened.
    virtual bool state_complete() const = 0;

protected:
    ~SnapshotSource() = default;
};

} // namespace korvel::protocol
