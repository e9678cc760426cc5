#include <cstdio>

int main() {
    std::puts("Tavrel: mail accounts as network disks.");
    return 0;
}
