/*
 * The winmm backend object, shared by the files of this folder.
 *
 * Every file here calls winmm itself, not the platform layer's
 * redirections of the same names (win/winapi.h): each defines
 * VOLTANIS_WIN_REAL_API before its first include.
 */
#ifndef VOLTANIS_PLATFORM_WINMM_INTERNAL_H
#define VOLTANIS_PLATFORM_WINMM_INTERNAL_H

#ifndef VOLTANIS_WIN_REAL_API
#error "winmm/: define VOLTANIS_WIN_REAL_API before the first include"
#endif

#include "../common/backend.h"

namespace vt {
namespace winmm {

class WinmmBackend : public vt::Backend {
public:
    /* backend.cpp: the devices are winmm's own list, numbered as it
       numbers them */
    void snapshot() override;
    unsigned outCount() override { return outs_; }
    unsigned inCount() override { return ins_; }
    bool outName(unsigned i, char name[32]) override;
    bool inName(unsigned i, char name[32]) override;

    /* outport.cpp, inport.cpp */
    vt::OutPort *openOut(unsigned i) override;
    vt::InPort *openIn(unsigned i, vt::InputSink *sink) override;

    /* backend.cpp: winmm tells nothing of devices that come and go; a
       vanished one is looked for in its list as it is now */
    vt::OutPort *openOutNamed(const char *name, vt::FoundPort *where) override;
    vt::InPort *openInNamed(const char *name, vt::InputSink *sink, vt::FoundPort *where) override;

private:
    /* device i of winmm's list now */
    vt::OutPort *openOutAt(unsigned i);
    vt::InPort *openInAt(unsigned i, vt::InputSink *sink);

    unsigned outs_ = 0;
    unsigned ins_ = 0;
};

} // namespace winmm
} // namespace vt

#endif
