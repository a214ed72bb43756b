// vantrel: the desktop application.
#include "ui/Application.h"

int main(int argc, char** argv) {
  vantrel::Application app(argc, argv);
  return app.Run();
}
