// vantrel: the desktop application.
#include "ui/CSkelderApp.h"

int main(int argc, char** argv) {
  vantrel::CSkelderApp app(argc, argv);
  return app.Run();
}
