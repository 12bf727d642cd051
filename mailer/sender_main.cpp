// Postvane: mails the report files listed in the registry and exits. It takes no arguments;
// the exit status tells which phase failed (0: sent), see mailer/sender_app.h.
#include "mailer/sender_app.h"

int main() {
    CSenderApp app;
    app.InitInstance();
    return app.ExitStatus();
}
