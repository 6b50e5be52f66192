// Control-socket replies as the client reads them: whatever the daemon writes, then closes,
// goes through the receive path over a real socket pair and the record decoder.
#include "FuzzCheck.h"
#include "NBRControlSocket.h"

#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const NBRControlMessage decoded = NBRControlDecode({data, size});
    // The record's bytes as far as the input reached are the input.
    const auto encoded = NBRControlEncode(decoded);
    const std::size_t covered = std::min(size, NBRControlMessageSize);
    NBR_FUZZ_CHECK(std::memcmp(encoded.data(), data, covered) == 0);
    NBR_FUZZ_CHECK(NBRControlMessageLength(decoded.command) >= NBRControlReplySize);
    NBR_FUZZ_CHECK(NBRControlMessageLength(decoded.command) <= NBRControlMessageSize);

    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0)
        return 0;
    // Small inputs fit in the socket's buffer, so the write cannot block.
    const std::size_t sent = std::min<std::size_t>(size, 4096);
    if (::write(fds[1], data, sent) != static_cast<ssize_t>(sent)) {
        ::close(fds[0]);
        ::close(fds[1]);
        return 0;
    }
    ::close(fds[1]);
    const auto reply = NBRControlReceiveReply(fds[0]);
    ::close(fds[0]);
    NBR_FUZZ_CHECK(reply.has_value() == (sent >= NBRControlReplySize));
    if (reply) {
        NBR_FUZZ_CHECK(reply->command == NBRControlDecode({data, NBRControlReplySize}).command);
        NBR_FUZZ_CHECK(reply->controllerType ==
                       NBRControlDecode({data, NBRControlReplySize}).controllerType);
    }
    const bool before = size > 0 && (data[0] & 1);
    const bool after = NBRConnectedAfterStatusReply(reply, before);
    if (!reply)
        NBR_FUZZ_CHECK(!after);
    else if (reply->controllerType == NBRControlReplyAcknowledge)
        NBR_FUZZ_CHECK(after == before);
    else
        NBR_FUZZ_CHECK(after);
    return 0;
}
