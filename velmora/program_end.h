#pragma once
// How "EXIT" ends Velmora at once, as a seam that tests can observe.

namespace velmora {

class ProgramEnd {
 public:
  virtual ~ProgramEnd() = default;
  // Ends the program without running any window's own closing code. May
  // return to the caller (the event loop stops once control gets back to it).
  virtual void EndNow() = 0;
};

// Production: hides every top-level window and stops the application's event
// loop with status 0.
class QuitApplication : public ProgramEnd {
 public:
  void EndNow() override;
};

}  // namespace velmora
