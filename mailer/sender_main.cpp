// Postvane: mails the report files listed in the registry and exits; with -outbox it sends
// what the outbox holds that is due, with "-mail FILE" that file's subject and text
// (mailer/alert_mail.h). The exit status tells which phase failed (0: sent), see
// mailer/sender_app.h.
#include <string>
#include <vector>

#include "mailer/sender_app.h"

int main(int argc, char** argv) {
    CSenderApp app;
    SenderArguments arguments;
    std::string problem;
    if (!ParseSenderArguments(std::vector<std::string>(argv + 1, argv + argc), &arguments,
                              &problem)) {
        app.Report(kSenderArguments, problem);
        return app.ExitStatus();
    }
    app.SetArguments(arguments);
    app.InitInstance();
    return app.ExitStatus();
}
