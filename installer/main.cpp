// setup: the Minutrix installer. Its command line is read by substring ("/?" or "help" shows the
// help box); MINUTRIX_UI chooses the user interface (see docs/ui-script.md).
#include "installer/settings.h"
#include "installer/start_up.h"
#include "platform/vb_app.h"

int main(int argc, char** argv) {
  platform::InitApp(argc, argv);
  platform::SetAppTitle(installer::kProgramTitle);
  return installer::RunSetup();
}
