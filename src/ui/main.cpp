// vantrel: the desktop application.
#include "ui/Application.h"

int main(int argc, char** argv) {
  if (int status = 0; vantrel::Application::AnswerWithoutWindow(argc, argv, status)) return status;
  vantrel::Application app(argc, argv);
  return app.Run();
}
