// Times Velmora's "Execute SQL statement" offscreen, from the click to the
// filled List1, and then a scroll to the last line (the window must stay
// usable with a long result), and takes the process's peak resident memory
// holding the result. Prints "<seconds> <lines> <scroll seconds> <peak MB>".
//
// usage: velmora_execute SERVER DATABASE STATEMENT

#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <cstdio>

#include "dbplatform/object.h"
#include "velmora/form1.h"
#include "velmora/list_box.h"
#include "velmora/messages.h"
#include "velmora/program_end.h"

namespace {

// The most resident memory the process has used so far, in megabytes.
double PeakResidentMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in kilobytes
}

// A message means the run failed: it goes to stderr and is counted.
class ConsoleMessages : public velmora::Messages {
 public:
  void Show(const QString& text, Icon) override {
    std::fprintf(stderr, "message: %s\n", text.toUtf8().constData());
    ++count;
  }
  int count = 0;
};

class IgnoredEnd : public velmora::ProgramEnd {
 public:
  void EndNow() override {}
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s SERVER DATABASE STATEMENT\n", argv[0]);
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  ConsoleMessages messages;
  IgnoredEnd end;
  velmora::Form1 form(dbplatform::DefaultFactory(), messages, end);
  form.Text1->setText(QString::fromLocal8Bit(argv[1]));
  form.Text2->setText(QString::fromLocal8Bit(argv[2]));
  form.txtSQL->setText(QString::fromLocal8Bit(argv[3]));
  form.show();
  QCoreApplication::processEvents();

  QElapsedTimer clock;
  clock.start();
  form.cmdConnectToDB->click();
  QCoreApplication::processEvents();  // the list lays out and paints its rows
  const double fill_seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;

  clock.restart();
  form.List1->scrollToBottom();
  form.List1->setCurrentIndex(form.List1->model()->index(form.List1->Count() - 1, 0));
  QCoreApplication::processEvents();
  const double scroll_seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;

  std::printf("%.3f %d %.3f %.1f\n", fill_seconds, form.List1->Count(), scroll_seconds,
              PeakResidentMegabytes());
  return messages.count == 0 ? 0 : 1;
}
