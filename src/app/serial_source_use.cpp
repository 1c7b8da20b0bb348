// Host-side serial numbers from the list or the generator the serial-number
// settings name.
#include <chrono>

#include "app/qn_programmer.hpp"
#include "app/serial_generator.hpp"
#include "app/serial_list.hpp"
#include "data/text_format.hpp"
#include "text/text_table.hpp"

namespace velkor {

bool TQNProgrammer::UseSerialSource() {
  const std::string& list = Controls.EditSNList.Text;
  const std::string& generator = Controls.EditSNGenerator.Text;
  const auto policy = static_cast<FailedValuePolicy>(Controls.RadioSNFailed.ItemIndex);
  const auto limit = std::chrono::milliseconds(Controls.SpinSNGenTime.Value);
  const auto letGo = [this] {
    if (ownSource_ && NumberSource == ownSource_.get()) NumberSource = nullptr;
    ownSource_.reset();
    ownSourceKey_.clear();
  };
  if ((list.empty() && generator.empty()) || !HostSerialNumbersOn()) {
    letGo();
    return true;
  }
  const char* conflict = nullptr;
  if (!list.empty() && !generator.empty())
    conflict = Tx("Serial numbers come from a list or from a generator program, not both: clear one of them.");
  else if (numbersFromLine_)
    conflict = Tx("Serial numbers come from the line's pool or from a list or generator, not both: clear one of them.");
  if (conflict) {
    letGo();
    Warn(conflict);
    return false;
  }
  // Everything that makes the source, so that a change of any opens it anew.
  const std::string key = FormatText("%s\n%s\n%d\n%lld\n%llu\n%llu", list.c_str(), generator.c_str(),
                                     static_cast<int>(policy), static_cast<long long>(limit.count()),
                                     static_cast<unsigned long long>(GeneratorIndexFirst),
                                     static_cast<unsigned long long>(GeneratorIndexStep));
  if (!ownSource_ || key != ownSourceKey_) {
    letGo();
    std::string error;
    if (!list.empty())
      ownSource_ = SerialListSource::Open(list, policy, error);
    else
      ownSource_ = std::make_unique<SerialGenerator>(generator, limit, policy, GeneratorIndexFirst, GeneratorIndexStep);
    if (!ownSource_) {
      AppendInfo(error);
      Warn(FormatText(Tx("%s\nNo chip was started."), error.c_str()));
      return false;
    }
    ownSourceKey_ = key;
  }
  NumberSource = ownSource_.get();
  return true;
}

}  // namespace velkor
