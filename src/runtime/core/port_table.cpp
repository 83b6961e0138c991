// The rule that gives the system's serial devices their port numbers.
#include "runtime/core/port_table.h"

namespace orv_rt {

bool AssignPorts(std::vector<PortSlot>& table, const std::vector<SeenDevice>& seen, unsigned long stamp) {
    const std::vector<PortSlot> before = table;
    std::vector<bool> taken(table.size(), false);
    std::vector<long> slotOf(seen.size(), -1);

    // Known devices: at their old path first, so that two adapters with the
    // same identity (clones sharing a serial number) keep theirs while their
    // paths stay; then wherever they are now.
    for (const bool samePath : {true, false}) {
        for (std::size_t d = 0; d < seen.size(); ++d) {
            if (slotOf[d] >= 0)
                continue;
            for (std::size_t s = 0; s < table.size(); ++s) {
                const PortSlot& slot = table[s];
                if (taken[s] || slot.identity.empty() || slot.identity != seen[d].identity ||
                    (samePath && slot.path != seen[d].path))
                    continue;
                taken[s] = true;
                slotOf[d] = static_cast<long>(s);
                break;
            }
        }
    }

    // Devices no longer listed keep their number.
    for (std::size_t s = 0; s < table.size(); ++s) {
        if (!taken[s] && table[s].present) {
            table[s].present = false;
            table[s].goneAt = stamp;
        }
    }

    // New devices.
    for (std::size_t d = 0; d < seen.size(); ++d) {
        if (slotOf[d] >= 0)
            continue;
        long pick = -1;
        for (std::size_t s = 0; s < table.size() && pick < 0; ++s)
            if (!taken[s] && table[s].identity.empty())
                pick = static_cast<long>(s);
        if (pick < 0) {
            for (std::size_t s = 0; s < table.size(); ++s) {
                if (taken[s] || table[s].present)
                    continue;
                if (pick < 0 || table[s].goneAt < table[static_cast<std::size_t>(pick)].goneAt)
                    pick = static_cast<long>(s);
            }
        }
        if (pick < 0)
            continue;  // every number belongs to a device present
        taken[static_cast<std::size_t>(pick)] = true;
        slotOf[d] = pick;
    }

    for (std::size_t d = 0; d < seen.size(); ++d) {
        if (slotOf[d] < 0)
            continue;
        PortSlot& slot = table[static_cast<std::size_t>(slotOf[d])];
        slot.path = seen[d].path;
        slot.identity = seen[d].identity;
        slot.present = true;
        slot.goneAt = 0;
    }
    return table != before;
}

}  // namespace orv_rt
