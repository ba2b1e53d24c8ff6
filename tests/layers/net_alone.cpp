// Links the network objects and nothing above them.
#include "net/tcp.h"

int main() {
    ITcpNode *node = TcpStartup();
    if (node == nullptr)
        return 1;
    node->Release();
    return 0;
}
