// Postvane: mails the report files listed in the registry and exits; with "-mail FILE" it
// mails that file's subject and text instead (mailer/alert_mail.h). The exit status tells
// which phase failed (0: sent), see mailer/sender_app.h; 17 is a command line it cannot read.
#include <cstdio>
#include <string>

#include "mailer/alert_mail.h"
#include "mailer/sender_app.h"

int main(int argc, char** argv) {
    std::string mailFile;
    if (!MailFileArgument(argc, argv, &mailFile)) {
        std::fprintf(stderr, "usage: Postvane [-mail FILE]\n");
        return 17;
    }
    CSenderApp app;
    app.SetMailFile(mailFile);
    app.InitInstance();
    return app.ExitStatus();
}
