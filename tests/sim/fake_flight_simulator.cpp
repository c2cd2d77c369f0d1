// A stand-in simulator process for the process-scan tests: it only waits
// until it is killed (or gives up after a minute so it never lingers).
#include <chrono>
#include <thread>

int main() {
    std::this_thread::sleep_for(std::chrono::seconds(60));
    return 0;
}
