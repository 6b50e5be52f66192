#pragma once

// The BTstack client library: a connection to the BTstack daemon over its UNIX socket
// ("/tmp/BTstack" under the device root), commands built from BTstack's descriptors, and every
// packet from the daemon delivered to one handler on the main thread's event loop.

#include <cstdint>

typedef uint8_t bd_addr_t[6];

// A command descriptor: opcode (OCF | OGF << 10) and the format of its parameters, one
// character per parameter: 1 2 3 4 integers of that many bytes, H handle, B address, P 16-byte
// PIN or key, N 248-byte name.
typedef struct {
    uint16_t opcode;
    const char *format;
} hci_cmd_t;

typedef void (*btstack_packet_handler_t)(uint8_t packet_type, uint16_t channel, uint8_t *packet,
                                         uint16_t size);

// Packet types (the first field of every frame).
#define HCI_COMMAND_DATA_PACKET 0x01
#define HCI_ACL_DATA_PACKET 0x02
#define HCI_EVENT_PACKET 0x04
#define DAEMON_EVENT_PACKET 0x05
#define L2CAP_DATA_PACKET 0x06
#define RFCOMM_DATA_PACKET 0x07

// Run-loop kinds; every kind runs on the process's one event loop here.
#define RUN_LOOP_POSIX 1
#define RUN_LOOP_COCOA 2
#define RUN_LOOP_EMBEDDED 3

#define HCI_POWER_OFF 0
#define HCI_POWER_ON 1
#define HCI_POWER_SLEEP 2

#define BTSTACK_UNIX "/tmp/BTstack"

// HCI events
#define HCI_EVENT_INQUIRY_COMPLETE 0x01
#define HCI_EVENT_INQUIRY_RESULT 0x02
#define HCI_EVENT_CONNECTION_COMPLETE 0x03
#define HCI_EVENT_DISCONNECTION_COMPLETE 0x05
#define HCI_EVENT_COMMAND_COMPLETE 0x0E
#define HCI_EVENT_COMMAND_STATUS 0x0F
#define HCI_EVENT_PIN_CODE_REQUEST 0x16
#define HCI_EVENT_LINK_KEY_REQUEST 0x17
#define HCI_EVENT_LINK_KEY_NOTIFICATION 0x18
#define HCI_EVENT_INQUIRY_RESULT_WITH_RSSI 0x22
#define HCI_EVENT_EXTENDED_INQUIRY_RESPONSE 0x2F
// BTstack events
#define BTSTACK_EVENT_STATE 0x60
#define BTSTACK_EVENT_NR_CONNECTIONS_CHANGED 0x61
#define BTSTACK_EVENT_POWERON_FAILED 0x62
#define BTSTACK_EVENT_VERSION 0x63
#define BTSTACK_EVENT_SYSTEM_BLUETOOTH_ENABLED 0x64
#define BTSTACK_EVENT_DISCOVERABLE_ENABLED 0x66
#define L2CAP_EVENT_CHANNEL_OPENED 0x70
#define L2CAP_EVENT_CHANNEL_CLOSED 0x71
#define L2CAP_EVENT_CREDITS 0x74
#define L2CAP_EVENT_SERVICE_REGISTERED 0x75
// Daemon events, made by the library itself
#define DAEMON_EVENT_CONNECTION_CLOSED 0x51

// BTstack states (BTSTACK_EVENT_STATE)
#define HCI_STATE_OFF 0
#define HCI_STATE_INITIALIZING 1
#define HCI_STATE_WORKING 2
#define HCI_STATE_HALTING 3

extern "C" {

// Daemon commands
extern const hci_cmd_t btstack_get_state;
extern const hci_cmd_t btstack_set_power_mode;
extern const hci_cmd_t btstack_set_acl_capture_mode;
extern const hci_cmd_t btstack_get_version;
extern const hci_cmd_t btstack_get_system_bluetooth_enabled;
extern const hci_cmd_t btstack_set_system_bluetooth_enabled;
extern const hci_cmd_t btstack_set_discoverable;
extern const hci_cmd_t btstack_set_bluetooth_enabled;
extern const hci_cmd_t l2cap_create_channel;
extern const hci_cmd_t l2cap_disconnect;
extern const hci_cmd_t l2cap_register_service;
extern const hci_cmd_t l2cap_unregister_service;
extern const hci_cmd_t l2cap_accept_connection;
extern const hci_cmd_t l2cap_decline_connection;
extern const hci_cmd_t l2cap_create_channel_mtu;
// Controller commands
extern const hci_cmd_t hci_inquiry;
extern const hci_cmd_t hci_inquiry_cancel;
extern const hci_cmd_t hci_create_connection;
extern const hci_cmd_t hci_disconnect;
extern const hci_cmd_t hci_link_key_request_reply;
extern const hci_cmd_t hci_link_key_request_negative_reply;
extern const hci_cmd_t hci_pin_code_request_reply;
extern const hci_cmd_t hci_pin_code_request_negative_reply;
extern const hci_cmd_t hci_remote_name_request;
extern const hci_cmd_t hci_reset;
extern const hci_cmd_t hci_write_scan_enable;
extern const hci_cmd_t hci_write_authentication_enable;
extern const hci_cmd_t hci_write_inquiry_mode;
extern const hci_cmd_t hci_read_bd_addr;

// Selects the run-loop kind; makes the process's event loop if there is none yet.
void run_loop_init(int type);
// Runs the event loop; returns only when the loop is told to quit.
void run_loop_execute(void);

// Connects to the daemon. 0 on success; anything else when no daemon listens.
int bt_open(void);
// Closes the connection. 0, also when none was open.
int bt_close(void);
// Sends one command, its parameters given as the descriptor's format says (integers as int or
// uint32_t, addresses and PINs as pointers). 0 when it went out.
int bt_send_cmd(const hci_cmd_t *cmd, ...);
// Sends L2CAP data on a channel. 0 when it went out.
int bt_send_l2cap(uint16_t local_cid, uint8_t *data, uint16_t len);
// The handler gets every packet from the daemon and, when the daemon goes away,
// DAEMON_EVENT_PACKET with DAEMON_EVENT_CONNECTION_CLOSED.
btstack_packet_handler_t bt_register_packet_handler(btstack_packet_handler_t handler);
// Reverses the six bytes of an address (event order, least significant first, to the order
// in which addresses are written, and back).
void bt_flip_addr(bd_addr_t dest, const bd_addr_t src);
}
