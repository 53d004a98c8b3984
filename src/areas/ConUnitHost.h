#pragma once

#include <QString>

namespace ostrel::areas {

// What the automation objects need from the application's windows. The main window implements
// it and hands it down at start-up, so the automation code stays free of the windows above it.
class ConUnitHost {
public:
    virtual ~ConUnitHost() = default;

    // Shows the About box; it holds nothing, and there is one at most.
    virtual void showAbout() = 0;
    virtual bool monitorVisible() const = 0;
    virtual void setMonitorVisible(bool visible) = 0;
    virtual bool videoVisible() const = 0;
    virtual void setVideoVisible(bool visible) = 0;
    // Shows or hides the main window.
    virtual void setMainWindowVisible(bool visible) = 0;
    // Loads or saves a configuration file; false when nothing was done (editing in progress, a
    // wrong header). Throws on a fault in the file or when it cannot be read or written.
    virtual bool loadConfig(const QString& fileName) = 0;
    virtual bool saveConfig(const QString& fileName) = 0;
    // A client now holds an automation object: the main window goes back to its stored
    // position, shows itself with the caption "Ostrel - ConUnit", and refuses to close.
    virtual void clientAttached() = 0;
    // The last client let go: the areas are released, every window closes and the program ends
    // (a program that runs as a service goes on).
    virtual void lastClientReleased() = 0;
};

}  // namespace ostrel::areas
