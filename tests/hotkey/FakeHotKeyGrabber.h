#pragma once
#include "platform/x11/HotKeyGrabber.h"

#include <map>
#include <set>
#include <utility>
#include <vector>

// Grabs in memory; refuses the combinations listed in `taken`, and lets a
// test deliver a release.
class FakeHotKeyGrabber : public platform::HotKeyGrabber
{
public:
    struct Grab
    {
        uint16_t keyCode;
        uint32_t carbon;
        uint32_t id;
    };
    std::set<std::pair<uint16_t, uint32_t>> taken;
    std::map<Handle, Grab> grabs;
    int ungrabs = 0;
    bool paused = false;
    std::vector<bool> pauseCalls;

    std::optional<Handle> grab(uint16_t keyCode, uint32_t carbon, uint32_t id) override
    {
        if (taken.count({keyCode, carbon}))
            return std::nullopt;
        const Handle h = next++;
        grabs[h] = Grab{keyCode, carbon, id};
        return h;
    }
    void ungrab(Handle h) override { ungrabs += int(grabs.erase(h)); }
    void setPaused(bool p) override
    {
        paused = p;
        pauseCalls.push_back(p);
    }
    void release(uint32_t id, uint16_t keyCode = 0)
    {
        platform::HotKeyEvent e;
        e.keyCode = keyCode;
        e.characters = QStringLiteral("x");
        e.isARepeat = true;
        released(id, e);
    }

private:
    Handle next = 100;
};
