#pragma once

namespace ostrel::shell {

// Program-wide flags of the running application, owned by the main window.
struct AppState {
    // A client holds an automation object: the main window refuses to close.
    bool ClientAttached = false;
    // Start-up has finished: closing the Monitor or Video window hides it instead.
    bool HideOnClose = false;
};

}  // namespace ostrel::shell
