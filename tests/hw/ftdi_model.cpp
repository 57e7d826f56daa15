#include "ftdi_model.h"

#include "hostio.h"

#include <errno.h>
#include <unistd.h>
#include <usbredirparser.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <cstring>

namespace hwhost {

namespace {

constexpr uint16_t VendorId = 0x0403, ProductId = 0x6001, DeviceVersion = 0x0400; // an FT232B
constexpr uint8_t BulkIn = 0x81, BulkOut = 0x02;
constexpr int PacketSize = 64;  // full speed: two status bytes and 62 of data
constexpr uint8_t LineIdle = 0x60; // transmitter empty

// Vendor requests of the driver.
enum Request : uint8_t {
    GetModemStatus = 5,
    SetLatencyTimer = 9,
    GetLatencyTimer = 10,
    ReadEeprom = 0x90,
};

const uint8_t deviceDescriptor[18] = {18, 1, 0x00, 0x02, 0, 0, 0, 64, VendorId & 0xff, VendorId >> 8, ProductId & 0xff,
                                      ProductId >> 8, DeviceVersion & 0xff, DeviceVersion >> 8, 1, 2, 0, 1};
const uint8_t configurationDescriptor[32] = {
    9, 2, 32, 0, 1, 1, 0, 0x80, 45,               // one interface, bus powered
    9, 4, 0, 0, 2, 0xff, 0xff, 0xff, 0,           // vendor class, two endpoints
    7, 5, BulkIn, 2, PacketSize, 0, 0,            //
    7, 5, BulkOut, 2, PacketSize, 0, 0,           //
};

std::vector<uint8_t> StringDescriptor(uint16_t index)
{
    if (index == 0)
        return {4, 3, 0x09, 0x04}; // English (United States)
    std::string text = index == 1 ? "halvex" : "halvex adapter model";
    std::vector<uint8_t> out{static_cast<uint8_t>(2 + 2 * text.size()), 3};
    for (char c : text)
        out.insert(out.end(), {static_cast<uint8_t>(c), 0});
    return out;
}

} // namespace

struct Callbacks {
    static FtdiModel *Model(void *priv) { return static_cast<FtdiModel *>(priv); }
    static void Log(void *, int level, const char *message)
    {
        if (level <= (getenv("HALVEX_HW_DEBUG") ? usbredirparser_debug : usbredirparser_warning))
            std::fprintf(stderr, "adapter model: %s\n", message);
    }
    static int Read(void *priv, uint8_t *data, int count)
    {
        ssize_t got = read(Model(priv)->guest_, data, static_cast<size_t>(count));
        if (got < 0 && (errno == EAGAIN || errno == EINTR))
            return 0;
        return got <= 0 ? -1 : static_cast<int>(got);
    }
    static int Write(void *priv, uint8_t *data, int count)
    {
        ssize_t put = write(Model(priv)->guest_, data, static_cast<size_t>(count));
        if (put < 0 && (errno == EAGAIN || errno == EINTR))
            return 0;
        return put < 0 ? -1 : static_cast<int>(put);
    }
    static void Hello(void *priv, usb_redir_hello_header *)
    {
        Model(priv)->helloSeen_ = true;
        Model(priv)->Connect();
    }
    static void SetConfiguration(void *priv, uint64_t id, usb_redir_set_configuration_header *header)
    {
        usb_redir_configuration_status_header status{usb_redir_success, header->configuration};
        usbredirparser_send_configuration_status(Model(priv)->parser_, id, &status);
    }
    static void GetConfiguration(void *priv, uint64_t id)
    {
        usb_redir_configuration_status_header status{usb_redir_success, 1};
        usbredirparser_send_configuration_status(Model(priv)->parser_, id, &status);
    }
    static void SetAltSetting(void *priv, uint64_t id, usb_redir_set_alt_setting_header *header)
    {
        usb_redir_alt_setting_status_header status{usb_redir_success, header->interface, header->alt};
        usbredirparser_send_alt_setting_status(Model(priv)->parser_, id, &status);
    }
    static void GetAltSetting(void *priv, uint64_t id, usb_redir_get_alt_setting_header *header)
    {
        usb_redir_alt_setting_status_header status{usb_redir_success, header->interface, 0};
        usbredirparser_send_alt_setting_status(Model(priv)->parser_, id, &status);
    }
    static void Control(void *priv, uint64_t id, usb_redir_control_packet_header *header, uint8_t *data, int)
    {
        FtdiModel *model = Model(priv);
        model->AnswerControl(id, reinterpret_cast<const uint8_t *>(header), header->request, header->requesttype,
                             header->value, header->length);
        if (data)
            usbredirparser_free_packet_data(model->parser_, data);
    }
    static void Bulk(void *priv, uint64_t id, usb_redir_bulk_packet_header *header, uint8_t *data, int length)
    {
        FtdiModel *model = Model(priv);
        if (header->endpoint == BulkIn) {
            model->reads_.push_back(id);
            model->Deliver();
            return;
        }
        // What the guest sends goes out on the line as it comes.
        WriteAll(model->line_, data, length);
        usb_redir_bulk_packet_header answer = *header;
        answer.status = usb_redir_success;
        usbredirparser_send_bulk_packet(model->parser_, id, &answer, nullptr, 0);
        if (data)
            usbredirparser_free_packet_data(model->parser_, data);
    }
    static void Cancel(void *priv, uint64_t id)
    {
        FtdiModel *model = Model(priv);
        auto found = std::find(model->reads_.begin(), model->reads_.end(), id);
        if (found == model->reads_.end())
            return; // answered already
        model->reads_.erase(found);
        usb_redir_bulk_packet_header answer{BulkIn, usb_redir_cancelled, 0, 0, 0};
        usbredirparser_send_bulk_packet(model->parser_, id, &answer, nullptr, 0);
    }
    static void Ignore(void *) {}
};

FtdiModel::FtdiModel(int guest, int line) : guest_(guest), line_(line), parser_(usbredirparser_create())
{
    parser_->priv = this;
    parser_->log_func = Callbacks::Log;
    parser_->read_func = Callbacks::Read;
    parser_->write_func = Callbacks::Write;
    parser_->hello_func = Callbacks::Hello;
    parser_->reset_func = Callbacks::Ignore;
    parser_->device_disconnect_ack_func = Callbacks::Ignore;
    parser_->set_configuration_func = Callbacks::SetConfiguration;
    parser_->get_configuration_func = Callbacks::GetConfiguration;
    parser_->set_alt_setting_func = Callbacks::SetAltSetting;
    parser_->get_alt_setting_func = Callbacks::GetAltSetting;
    parser_->control_packet_func = Callbacks::Control;
    parser_->bulk_packet_func = Callbacks::Bulk;
    parser_->cancel_data_packet_func = Callbacks::Cancel;
    uint32_t caps[USB_REDIR_CAPS_SIZE] = {};
    usbredirparser_caps_set_cap(caps, usb_redir_cap_connect_device_version); // the driver reads the chip from it
    // qemu's xHCI takes no device without these three.
    usbredirparser_caps_set_cap(caps, usb_redir_cap_ep_info_max_packet_size);
    usbredirparser_caps_set_cap(caps, usb_redir_cap_64bits_ids);
    usbredirparser_caps_set_cap(caps, usb_redir_cap_32bits_bulk_length);
    usbredirparser_caps_set_cap(caps, usb_redir_cap_device_disconnect_ack);
    usbredirparser_init(parser_, "halvex adapter model", caps, USB_REDIR_CAPS_SIZE, usbredirparser_fl_usb_host);
}

FtdiModel::~FtdiModel() { usbredirparser_destroy(parser_); }

bool FtdiModel::wantsWrite() const { return usbredirparser_has_data_to_write(parser_) > 0; }

bool FtdiModel::FromGuest() { return usbredirparser_do_read(parser_) != usbredirparser_read_io_error; }

void FtdiModel::ToGuest() { usbredirparser_do_write(parser_); }

void FtdiModel::FromLine()
{
    uint8_t bytes[512];
    ssize_t got = read(line_, bytes, sizeof bytes);
    if (got > 0 && plugged_) { // an adapter that is not plugged in hears nothing
        received_.insert(received_.end(), bytes, bytes + got);
        Deliver();
    }
}

void FtdiModel::Connect()
{
    usb_redir_ep_info_header endpoints;
    std::memset(&endpoints, 0, sizeof endpoints);
    std::fill(std::begin(endpoints.type), std::end(endpoints.type), usb_redir_type_invalid);
    // Out endpoints first, then in endpoints, 16 of each.
    endpoints.type[0] = endpoints.type[16] = usb_redir_type_control;
    endpoints.type[BulkOut] = endpoints.type[16 + (BulkIn & 0x0f)] = usb_redir_type_bulk;
    endpoints.max_packet_size[0] = endpoints.max_packet_size[16] = 64;
    endpoints.max_packet_size[BulkOut] = endpoints.max_packet_size[16 + (BulkIn & 0x0f)] = PacketSize;
    usbredirparser_send_ep_info(parser_, &endpoints);
    usb_redir_interface_info_header interfaces;
    std::memset(&interfaces, 0, sizeof interfaces);
    interfaces.interface_count = 1;
    interfaces.interface_class[0] = interfaces.interface_subclass[0] = interfaces.interface_protocol[0] = 0xff;
    usbredirparser_send_interface_info(parser_, &interfaces);
    usb_redir_device_connect_header device{usb_redir_speed_full, 0, 0, 0, VendorId, ProductId, DeviceVersion};
    usbredirparser_send_device_connect(parser_, &device);
    plugged_ = true;
    latency_ = 16;
}

void FtdiModel::Unplug()
{
    usbredirparser_send_device_disconnect(parser_);
    plugged_ = false;
    unplugAfter_ = -1;
    reads_.clear(); // the guest drops what it had asked for
    received_.clear();
    events_.clear();
}

void FtdiModel::Plug()
{
    if (!plugged_ && helloSeen_)
        Connect();
}

void FtdiModel::UnplugAfter(long bytes)
{
    if (!plugged_)
        return;
    if (bytes <= 0)
        Unplug();
    else
        unplugAfter_ = bytes;
}

void FtdiModel::SetModemLine(uint8_t bit, bool on)
{
    modem_ = static_cast<uint8_t>(on ? modem_ | bit : modem_ & ~bit);
    statusChanged_ = true;
    Deliver();
}

void FtdiModel::RaiseLineError(uint8_t bits)
{
    events_.push_back(bits);
    Deliver();
}

void FtdiModel::AnswerControl(uint64_t id, const uint8_t *setup, uint8_t request, uint8_t type, uint16_t value,
                              uint16_t length)
{
    usb_redir_control_packet_header answer;
    std::memcpy(&answer, setup, sizeof answer);
    answer.status = usb_redir_success;
    std::vector<uint8_t> data;
    if (type == 0x80 && request == 6) { // GET_DESCRIPTOR
        uint8_t kind = static_cast<uint8_t>(value >> 8);
        if (kind == 1)
            data.assign(std::begin(deviceDescriptor), std::end(deviceDescriptor));
        else if (kind == 2)
            data.assign(std::begin(configurationDescriptor), std::end(configurationDescriptor));
        else if (kind == 3 && (value & 0xff) <= 2)
            data = StringDescriptor(value & 0xff);
        else
            answer.status = usb_redir_stall;
    } else if ((type & 0x80) && (type & 0x60) == 0) { // other standard reads: status
        data = {0, 0};
    } else if (type == 0xc0 && request == GetModemStatus) {
        data = {static_cast<uint8_t>(0x01 | modem_), LineIdle};
    } else if (type == 0xc0 && request == GetLatencyTimer) {
        data = {static_cast<uint8_t>(latency_)};
    } else if (type == 0xc0 && request == ReadEeprom) {
        data = {0, 0}; // a blank EEPROM
    } else if (type == 0x40 && request == SetLatencyTimer) {
        latency_ = value & 0xff;
    } else if (type & 0x80) {
        answer.status = usb_redir_stall;
    } // every other write (reset, modem control, baud, data bits, flow) is taken
    if (type & 0x80) {
        data.resize(std::min<size_t>(data.size(), length));
        answer.length = static_cast<uint16_t>(data.size());
    }
    usbredirparser_send_control_packet(parser_, id, &answer, data.empty() ? nullptr : data.data(),
                                       static_cast<int>(data.size()));
}

// Answers waiting bulk-in requests: a line error with the byte it came with,
// then data, then a bare status packet when only the modem lines changed.
void FtdiModel::Deliver()
{
    while (plugged_ && !reads_.empty()) {
        std::vector<uint8_t> packet{static_cast<uint8_t>(0x01 | modem_), LineIdle};
        if (!events_.empty()) {
            packet[1] |= events_.front();
            packet.push_back(0);
            events_.pop_front();
        } else if (!received_.empty()) {
            size_t count = std::min<size_t>(received_.size(), PacketSize - 2);
            if (unplugAfter_ > 0)
                count = std::min<size_t>(count, static_cast<size_t>(unplugAfter_));
            packet.insert(packet.end(), received_.begin(), received_.begin() + static_cast<long>(count));
            received_.erase(received_.begin(), received_.begin() + static_cast<long>(count));
        } else if (!statusChanged_) {
            return;
        }
        statusChanged_ = false;
        usb_redir_bulk_packet_header header{BulkIn, usb_redir_success, static_cast<uint16_t>(packet.size()), 0, 0};
        usbredirparser_send_bulk_packet(parser_, reads_.front(), &header, packet.data(),
                                        static_cast<int>(packet.size()));
        reads_.pop_front();
        if (unplugAfter_ > 0 && (unplugAfter_ -= static_cast<long>(packet.size() - 2)) <= 0)
            Unplug();
    }
}

} // namespace hwhost
