#include "btstack.h"

// Opcode = OCF | OGF << 10. OGF 0x3D is the daemon's own; everything else goes to the controller.
#define OPCODE(ogf, ocf) static_cast<uint16_t>((ocf) | ((ogf) << 10))

namespace {
constexpr uint16_t kLinkControl = 0x01;
constexpr uint16_t kControllerBaseband = 0x03;
constexpr uint16_t kInformational = 0x04;
constexpr uint16_t kDaemon = 0x3D;
} // namespace

extern "C" {
const hci_cmd_t btstack_get_state = {OPCODE(kDaemon, 0x01), ""};
const hci_cmd_t btstack_set_power_mode = {OPCODE(kDaemon, 0x02), "1"};
const hci_cmd_t btstack_set_acl_capture_mode = {OPCODE(kDaemon, 0x03), "1"};
const hci_cmd_t btstack_get_version = {OPCODE(kDaemon, 0x04), ""};
const hci_cmd_t btstack_get_system_bluetooth_enabled = {OPCODE(kDaemon, 0x05), ""};
const hci_cmd_t btstack_set_system_bluetooth_enabled = {OPCODE(kDaemon, 0x06), "1"};
const hci_cmd_t btstack_set_discoverable = {OPCODE(kDaemon, 0x07), "1"};
const hci_cmd_t btstack_set_bluetooth_enabled = {OPCODE(kDaemon, 0x08), "1"};
const hci_cmd_t l2cap_create_channel = {OPCODE(kDaemon, 0x20), "B2"};
const hci_cmd_t l2cap_disconnect = {OPCODE(kDaemon, 0x21), "21"};
const hci_cmd_t l2cap_register_service = {OPCODE(kDaemon, 0x22), "22"};
const hci_cmd_t l2cap_unregister_service = {OPCODE(kDaemon, 0x23), "2"};
const hci_cmd_t l2cap_accept_connection = {OPCODE(kDaemon, 0x24), "2"};
const hci_cmd_t l2cap_decline_connection = {OPCODE(kDaemon, 0x25), "21"};
const hci_cmd_t l2cap_create_channel_mtu = {OPCODE(kDaemon, 0x26), "B22"};

const hci_cmd_t hci_inquiry = {OPCODE(kLinkControl, 0x01), "311"};
const hci_cmd_t hci_inquiry_cancel = {OPCODE(kLinkControl, 0x02), ""};
const hci_cmd_t hci_create_connection = {OPCODE(kLinkControl, 0x05), "B21121"};
const hci_cmd_t hci_disconnect = {OPCODE(kLinkControl, 0x06), "H1"};
const hci_cmd_t hci_link_key_request_reply = {OPCODE(kLinkControl, 0x0B), "BP"};
const hci_cmd_t hci_link_key_request_negative_reply = {OPCODE(kLinkControl, 0x0C), "B"};
const hci_cmd_t hci_pin_code_request_reply = {OPCODE(kLinkControl, 0x0D), "B1P"};
const hci_cmd_t hci_pin_code_request_negative_reply = {OPCODE(kLinkControl, 0x0E), "B"};
const hci_cmd_t hci_remote_name_request = {OPCODE(kLinkControl, 0x19), "B112"};
const hci_cmd_t hci_reset = {OPCODE(kControllerBaseband, 0x03), ""};
const hci_cmd_t hci_write_scan_enable = {OPCODE(kControllerBaseband, 0x1A), "1"};
const hci_cmd_t hci_write_authentication_enable = {OPCODE(kControllerBaseband, 0x20), "1"};
const hci_cmd_t hci_write_inquiry_mode = {OPCODE(kControllerBaseband, 0x45), "1"};
const hci_cmd_t hci_read_bd_addr = {OPCODE(kInformational, 0x09), ""};
}
