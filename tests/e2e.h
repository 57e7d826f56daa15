// End-to-end fixture: the running engine, and a simulated receiver on the
// master side of a pseudo-terminal whose slave the library opens.
#ifndef HALVEX_TEST_E2E_H
#define HALVEX_TEST_E2E_H

#include <unistd.h>

#include <memory>

#include "engine_fixture.h"
#include "halvex32.h"
#include "options.h"
#include "pty.h"

class EndToEnd : public EngineRunning {
protected:
    void TearDown() override
    {
        EngineRunning::TearDown();
        if (receiver)
            receiver->Stop();
    }
    // Starts the simulated receiver and opens the port to it; with onLine,
    // as a host that hears of line events. The receiver holds exactly what
    // the last upload of each kind sent, which is what these tests compare.
    PortSession *Connect(halvexsim::Config config, int baud = 9600, HalvexPortCallback *onLine = nullptr)
    {
        config.uploadsReplace = true;
        line = std::make_unique<Pty>();
        receiver = std::make_unique<halvexsim::Receiver>(std::move(config));
        receiver->Start(dup(line->master()));
        line->CloseMaster();
        return onLine ? OpenCommPortEx(line->path(), baud, onLine) : OpenCommPort(line->path(), baud);
    }

    std::unique_ptr<Pty> line; // the receiver's end is the simulator's
    std::unique_ptr<halvexsim::Receiver> receiver;
};

#endif
