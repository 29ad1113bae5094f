#pragma once

#include "model/SkyTable.h"
#include "receiver/ReceiverFamily.h"

#include <cstddef>
#include <functional>
#include <string>

// What a receiver's configuration needs of the connection it talks through: the port gives it,
// and the configurator sits below the port, not beside it.
class CReceiverLink {
public:
    using ReplyListener = std::function<void(const char *data, std::size_t len, bool binary)>;

    virtual ~CReceiverLink() = default;
    // Writes n bytes, zeros included; nothing on a closed link.
    virtual void Send(const char *data, std::size_t n) = 0;
    // Why the last Send did not reach the receiver, "" when it did.
    virtual std::string LastSendFailure() const = 0;
    // False with the reason when no command can reach the receiver.
    virtual bool CanSend(std::string &why) const = 0;
    // The family the stream identified; Unknown until then.
    virtual ReceiverFamily Family() const = 0;
    // The line's speed, -1 while closed.
    virtual int Baud() const = 0;
    // True on the network, where the baud rate means nothing.
    virtual bool IsNetworkSource() const = 0;
    virtual void CopySky(SkyView &dest) const = 0;
    // Every good sentence and UBX frame (binary true), on the reader's thread; nullptr stops.
    virtual void SetReplyListener(ReplyListener listener) = 0;
    // Reopens the line at nBaud; false when it cannot.
    virtual bool ChangeBaud(int nBaud) = 0;

protected:
    CReceiverLink() = default;
    CReceiverLink(const CReceiverLink &) = default;
    CReceiverLink &operator=(const CReceiverLink &) = default;
};
