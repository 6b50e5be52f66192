#include "btstack.h"
#include "BTstackClient.h"

#include <QCoreApplication>

using platform::btstack::BTstackClient;

namespace {
int g_argc = 1;
char g_name[] = "btstack";
char *g_argv[] = {g_name, nullptr};
} // namespace

extern "C" {

void run_loop_init(int) {
    // Every kind of run loop is the process's Qt event loop on the main thread.
    if (QCoreApplication::instance() == nullptr)
        new QCoreApplication(g_argc, g_argv);
}

void run_loop_execute(void) {
    run_loop_init(RUN_LOOP_COCOA);
    QCoreApplication::exec();
}

int bt_open(void) {
    return BTstackClient::shared().open();
}

int bt_close(void) {
    return BTstackClient::shared().close();
}

int bt_send_cmd(const hci_cmd_t *cmd, ...) {
    if (cmd == nullptr)
        return -1;
    va_list args;
    va_start(args, cmd);
    auto bytes = platform::btstack::encodeCommand(*cmd, args);
    va_end(args);
    if (!bytes)
        return -1;
    return BTstackClient::shared().send(HCI_COMMAND_DATA_PACKET, 0, *bytes) ? 0 : -1;
}

int bt_send_l2cap(uint16_t local_cid, uint8_t *data, uint16_t len) {
    if (data == nullptr && len > 0)
        return -1;
    return BTstackClient::shared().send(L2CAP_DATA_PACKET, local_cid, std::span(data, len)) ? 0
                                                                                            : -1;
}

btstack_packet_handler_t bt_register_packet_handler(btstack_packet_handler_t handler) {
    return BTstackClient::shared().setHandler(handler);
}
}
