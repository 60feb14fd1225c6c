#pragma once

#include "sockets/DispatchSocketPacket.h"
#include "sockets/ReadPacket.h"

namespace quenbril {

/// A read as DispatchSocket's read queue holds it.
class DispatchReadPacket : public DispatchSocketPacket, public ReadPacket {
  public:
    DispatchReadPacket(std::shared_ptr<Bytes> buffer, size_t startOffset, size_t maxLength,
                       double timeout, size_t readLength, Bytes term, long tag)
        : DispatchSocketPacket(Kind::Read),
          ReadPacket(std::move(buffer), startOffset, maxLength, timeout, readLength,
                     std::move(term), tag) {}
};

}  // namespace quenbril
