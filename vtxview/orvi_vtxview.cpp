#include <cstdio>

int main() {
    std::printf("\ntypical usage\n/# orvi-vtxview\n");
    return 0;
}
