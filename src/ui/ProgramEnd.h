#pragma once

namespace kestrove {

// Ending the program "at once": the caller returns straight after EndProgram and runs nothing
// more. Tests put a recorder in its place.
class ProgramEnd {
  public:
    virtual ~ProgramEnd() = default;
    virtual void EndProgram() = 0;
};

// Leaves every running event loop; main() then returns and the windows are destroyed. Whoever
// owns a drop worker stops it before calling this, so no half-written temporary file is left.
class QuitEventLoop final : public ProgramEnd {
  public:
    void EndProgram() override;
};

}  // namespace kestrove
