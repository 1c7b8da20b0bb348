#include "link/identify_query.hpp"

#include "link/comm.hpp"

namespace velkor {

bool IdentifyQuery(LinkChannel& channel) {
  if (!channel.Port) return false;
  return channel.Port->SendData(kIdentifyQueryFrame.data(), kIdentifyQueryFrame.size());
}

}  // namespace velkor
