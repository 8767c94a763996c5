// An SMC driver whose keys are the machine's hwmon fans and memory temperatures.

#include <algorithm>
#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/linux/DiscoverySchedule.h"
#include "platform/linux/HwmonSensors.h"
#include "platform/linux/SensorFile.h"
#include "platform/linux/SensorPlan.h"
#include "smc/FourCC.h"
#include "smc/SMCKeys.h"
#include "smc/SMCValues.h"

namespace tessly::hwmon {
namespace {

// Any result byte but 0 fails a read; this one answers a key that exists but whose value
// cannot be read now, a command the driver does not serve, and every key before the first
// successful discovery.
constexpr std::uint8_t resultFailed = 0x01;

constexpr std::uint32_t typeFloat = fourCC(smc::typeFlt);
constexpr std::uint32_t typeUInt8 = fourCC(smc::typeUi8);

// A sysfs input kept behind one key for the driver's life.
struct KeptInput {
    ChannelIdentity identity;
    SensorType type;
    std::string_view item;  // "input", "min" or "max"
    Unit unit;
    std::optional<SensorFile> file;  // nothing while the input is gone
};

struct KeySlot {
    std::uint32_t code;
    std::uint32_t type;
    std::uint32_t size;
    std::optional<std::size_t> input;  // index into the kept inputs; nothing for "FNum"
};

// The key table fixed by the first successful discovery.
struct KeyTable {
    std::vector<KeySlot> slots;  // by code
    std::vector<KeptInput> inputs;
    std::uint8_t fanCount = 0;
};

bool channelHas(const Channel& channel, std::string_view item) noexcept {
    if (item == "min") return channel.hasMin;
    if (item == "max") return channel.hasMax;
    return channel.hasInput;
}

KeyTable buildTable(const SensorPlan& plan, FileReader& reader) {
    KeyTable table;
    static_assert(smc::mostFans <= 255, "the fan count is one byte");
    table.fanCount = static_cast<std::uint8_t>(plan.fans.size());
    table.slots.push_back({fourCC(smc::fanCountKey), typeUInt8, 1, std::nullopt});
    const auto add = [&](std::string_view key, ChannelIdentity identity, SensorType type,
                         std::string_view item, Unit unit, const std::string& path) {
        table.slots.push_back({fourCC(key), typeFloat, 4, table.inputs.size()});
        table.inputs.push_back({std::move(identity), type, item, unit, std::nullopt});
        table.inputs.back().file.emplace(reader, path);
    };
    for (std::size_t i = 0; i < plan.fans.size(); ++i) {
        const auto& fan = plan.fans[i];
        using smc::FanKey, smc::FanValue;
        add(FanKey(i, FanValue::speed).name(), fan.identity, SensorType::fan, "input", Unit::rpm,
            fan.inputPath);
        if (fan.minPath) {
            add(FanKey(i, FanValue::minimum).name(), fan.identity, SensorType::fan, "min",
                Unit::rpm, *fan.minPath);
        }
        if (fan.maxPath) {
            add(FanKey(i, FanValue::maximum).name(), fan.identity, SensorType::fan, "max",
                Unit::rpm, *fan.maxPath);
        }
    }
    for (std::size_t i = 0; i < plan.memory.size(); ++i) {
        const auto& memory = plan.memory[i];
        add(smc::memoryKeys[i], memory.identity, SensorType::temp, "input",
            Unit::millidegreeCelsius, memory.path);
    }
    std::sort(table.slots.begin(), table.slots.end(),
              [](const KeySlot& a, const KeySlot& b) { return a.code < b.code; });
    return table;
}

class HwmonSMCDriver final : public SMCDriver {
  public:
    HwmonSMCDriver(std::shared_ptr<SharedScan> scan, FileReader& reader, Clock& clock,
                   const DeviceChanges* changes) noexcept
        : scan_(std::move(scan)), reader_(reader), clock_(clock), schedule_(changes) {}

    std::optional<SMCKeyData> call(const SMCKeyData& input) noexcept override {
        // A read begins with its key information: looking again there, and not between the two
        // exchanges, keeps the value read under the key table it was asked about.
        // The keys are fixed: only inputs found gone give a reason to look again.
        const auto cadence = someInputGone_ ? DiscoverySchedule::Cadence::followDevices
                                            : DiscoverySchedule::Cadence::whenGone;
        if ((input.command == SMCKeyData::keyInfoCommand || !table_) &&
            schedule_.mayBeDue(cadence)) {
            const double now = clock_.monotonicNow();
            if (schedule_.due(now, cadence)) discover(now);
        }

        SMCKeyData reply{};
        reply.key = input.key;
        const KeySlot* slot = table_ ? find(input.key) : nullptr;
        if (!table_) {
            reply.result = resultFailed;
        } else if (slot == nullptr) {
            reply.result = SMCKeyData::resultKeyNotFound;
        } else if (input.command == SMCKeyData::keyInfoCommand) {
            reply.dataSize = slot->size;
            reply.dataType = slot->type;
        } else if (input.command == SMCKeyData::readBytesCommand) {
            if (!readValue(*slot, reply)) reply.result = resultFailed;
        } else {
            reply.result = resultFailed;
        }
        return reply;
    }

  private:
    const KeySlot* find(std::uint32_t code) const noexcept {
        const auto& slots = table_->slots;
        const auto it =
            std::lower_bound(slots.begin(), slots.end(), code,
                             [](const KeySlot& s, std::uint32_t c) { return s.code < c; });
        return it != slots.end() && it->code == code ? &*it : nullptr;
    }

    // The slot's value bytes into reply.bytes: one pread of its file, or nothing for "FNum".
    bool readValue(const KeySlot& slot, SMCKeyData& reply) noexcept {
        if (!slot.input) {
            reply.bytes[0] = table_->fanCount;
            return true;
        }
        KeptInput& kept = table_->inputs[*slot.input];
        if (!kept.file) return false;
        const SensorValue reading = kept.file->read();
        if (reading.deviceGone()) {
            schedule_.deviceGone();
            scan_->deviceGone();
        }
        if (!reading.value) return false;
        const auto bytes = smc::encodeFlt(static_cast<float>(valueOf(*reading.value, kept.unit)));
        std::copy(bytes.begin(), bytes.end(), reply.bytes.begin());
        return true;
    }

    // The first successful discovery fixes the key table; every later one reopens the files
    // behind the kept keys, wherever their chips are now, and drops those that are gone.
    void discover(double now) noexcept {
        const auto& scan = scan_->scan(now);
        if (!scan) {
            if (table_) schedule_.discovered(now);
            return;
        }
        try {
            if (!table_) {
                table_ = buildTable(planSensors(*scan), reader_);
            } else {
                reopen(*scan);
            }
        } catch (const std::bad_alloc&) {
            if (!table_) return;
        }
        schedule_.discovered(now);
    }

    // A file still at the path it was opened at stays open.
    void reopen(const SysfsScan& scan) {
        someInputGone_ = false;
        for (auto& kept : table_->inputs) {
            const auto located = locate(scan, kept.identity, kept.type);
            if (located && channelHas(*located->channel, kept.item)) {
                auto path =
                    attributePath(*located->chip, kept.type, kept.identity.index, kept.item);
                if (!kept.file || kept.file->path() != path) kept.file.emplace(reader_, path);
            } else {
                kept.file.reset();
                someInputGone_ = true;
            }
        }
    }

    std::shared_ptr<SharedScan> scan_;
    FileReader& reader_;
    Clock& clock_;
    DiscoverySchedule schedule_;
    std::optional<KeyTable> table_;  // nothing until a discovery succeeds
    bool someInputGone_ = false;     // a kept input was missing at the last discovery
};

}  // namespace

std::unique_ptr<SMCDriver> openHwmonSMCDriver(std::string sysfsRoot, FileReader& reader,
                                              Clock& clock, const DeviceChanges* changes,
                                              std::shared_ptr<SharedScan> scan) noexcept {
    try {
        if (!scan) scan = std::make_shared<SharedScan>(std::move(sysfsRoot), reader, changes);
        return std::make_unique<HwmonSMCDriver>(std::move(scan), reader, clock, changes);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace tessly::hwmon
