// Port numbers for the serial devices the system lists. A device keeps its
// number for the whole run, also while it is unplugged; plain data without
// the toolkit, so the rule can be tried without devices.
#pragma once

#include <string>
#include <vector>

namespace orv_rt {

// A device in the system's list: where it is now and which device it is.
struct SeenDevice {
    std::string path;
    std::string identity;  // a USB adapter with a serial number: "usb:vid:pid:serial"; else the path
};

// What one port number stands for.
struct PortSlot {
    std::string path;      // where its device was last seen; "" = number never used
    std::string identity;  // "" = number never used
    bool present = false;
    unsigned long goneAt = 0;  // the refresh at which the device went missing

    bool operator==(const PortSlot&) const = default;
};

// Brings `table` (index 0 is port 1) up to `seen`, the system's list now, in
// the list's order:
//  - a device already in the table keeps its number, found by its identity
//    (at its old path first), and the number's path follows it;
//  - a device no longer listed keeps its number, marked absent;
//  - a new device takes the lowest number never used, else the number of the
//    device absent the longest (the lowest such number on a tie); with every
//    number taken by a device present it gets none.
// `stamp` numbers this refresh (it must grow). Returns true when a slot changed.
bool AssignPorts(std::vector<PortSlot>& table, const std::vector<SeenDevice>& seen, unsigned long stamp);

}  // namespace orv_rt
