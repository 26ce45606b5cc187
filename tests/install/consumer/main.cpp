// A program outside the project, built against the installed package only.
#include <Sentova/CommandSerialiser.h>
#include <Sentova/Encoding.h>
#include <Sentova/SentovaError.h>
#if __has_include(<Sentova/Sentova.h>)
#include <Sentova/Sentova.h>
#endif
#if __has_include(<Sentova/SentovaEventManager.h>)
#include <Sentova/SentovaEventManager.h>
#endif
#if HAVE_LISTENER
#include <Sentova/SentovaGrabber.h>
#endif

#include <iostream>

int main() {
    const std::string cmd = tavrel::CommandSerialiser::SVSFFS(5.0, 7.0);
    std::cout << tavrel::FormatErrorString(tavrel::NoError) << " " << cmd.size() << "\n";
#if HAVE_LISTENER
    tavrel::SentovaGrabber grabber;
    grabber.StopListening();
#endif
    return cmd.size() == 14 ? 0 : 1;
}
