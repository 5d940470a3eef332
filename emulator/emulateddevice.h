#pragma once

#include <QByteArray>
#include <QList>

#include <deque>
#include <string>

namespace emulator {

class EmulatedDevice;

// A behavioural model behind the device: sees every output report and may answer with input reports.
class DeviceModel {
public:
    virtual ~DeviceModel() = default;
    // One output report as the console receives it: without the report number.
    virtual void output_report(const QByteArray &report, EmulatedDevice &device) = 0;
    // Called before every read, so the model can produce what the console sends of its own accord.
    virtual void before_read(EmulatedDevice &device) { Q_UNUSED(device); }
    // Called when the host opens the device.
    virtual void opened(EmulatedDevice &device) { Q_UNUSED(device); }
    // Called with the host's buffer as a read is about to return an input report in it.
    virtual void delivered(unsigned char *data, int length, EmulatedDevice &device)
    {
        Q_UNUSED(data);
        Q_UNUSED(length);
        Q_UNUSED(device);
    }
};

// The console as the hidapi C API sees it (emulator/hidapi_emulated.cpp forwards every call here). Tests
// script it directly: presence at hid_open, queued input reports, read errors, and a record of every write.
class EmulatedDevice {
public:
    static EmulatedDevice &instance();

    // Back to the state of a new process: present, no model, empty queue and record, counts at zero.
    void reset();

    void set_present(bool present) { present_ = present; }
    bool present() const { return present_; }
    // Unplugs the console: the next read fails and the device is absent at hid_open until set_present(true).
    void unplug();
    // Why a present console does not open, as the kernel would refuse it: hid_enumerate still lists it,
    // hid_open fails and hid_error tells the reason in the system library's words.
    enum class Refusal { none, not_permitted, busy };
    void set_refusal(Refusal refusal) { refusal_ = refusal; }
    Refusal refusal() const { return refusal_; }
    // The device node the enumeration names, and the text hid_error(nullptr) gives after the last open.
    static constexpr const char *path = "/dev/hidraw-emulated";
    const std::wstring &last_error() const { return error; }

    // Input reports waiting to be read, oldest first; hid_read returns one per call with its exact length.
    void queue_input(const QByteArray &report);
    int pending_input() const { return static_cast<int>(input.size()); }
    void clear_input() { input.clear(); }
    // The next hid_read returns -1, as when the console is unplugged.
    void fail_next_read() { fail_read = true; }
    // Upper bound of waiting reports, as the kernel's report buffer; older reports are dropped past it.
    void set_input_capacity(int reports) { input_capacity_ = reports; }
    int input_capacity() const { return input_capacity_; }
    qint64 dropped_input() const { return dropped; }

    // Every buffer handed to hid_write, with its leading report number, in order.
    const QList<QByteArray> &writes() const { return written; }
    void clear_writes() { written.clear(); }
    // hid_write returns -1 while this is set (the report is still recorded).
    void set_write_fails(bool fails) { write_fails = fails; }

    void set_model(DeviceModel *model) { model_ = model; }
    DeviceModel *model() const { return model_; }

    bool is_open() const { return open_handles > 0; }
    int open_count() const { return opens; }
    int failed_open_count() const { return failed_opens; }
    int close_count() const { return closes; }
    int exit_count() const { return exits; }
    int init_count() const { return inits; }
    int read_count() const { return reads; }
    bool nonblocking() const { return nonblocking_; }
    int last_vendor_id() const { return last_vid; }
    int last_product_id() const { return last_pid; }

    // Entry points of the C API.
    bool open(unsigned short vid, unsigned short pid);
    void close();
    int read(unsigned char *data, size_t length);
    int write(const unsigned char *data, size_t length);
    void set_nonblocking(bool on) { nonblocking_ = on; }
    void library_init() { ++inits; }
    void library_exit() { ++exits; }

private:
    EmulatedDevice() = default;

    bool present_ = true;
    Refusal refusal_ = Refusal::none;
    std::wstring error = L"Success";
    bool fail_read = false;
    bool write_fails = false;
    bool nonblocking_ = false;
    std::deque<QByteArray> input;
    int input_capacity_ = 4096;
    qint64 dropped = 0;
    QList<QByteArray> written;
    DeviceModel *model_ = nullptr;
    int open_handles = 0;
    int opens = 0;
    int failed_opens = 0;
    int closes = 0;
    int exits = 0;
    int inits = 0;
    int reads = 0;
    int last_vid = 0;
    int last_pid = 0;
};

} // namespace emulator
