// Encodes one message and decodes it again through the installed headers and libraries.
#include <osc/core/OSCCoreValueTypes.h>
#include <osc/core/OSCMessage.h>

#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

int main() {
    const std::vector<rozuri::AnyOSCValue> values{std::int32_t{2}, std::string("cover"), 0.5f};
    const rozuri::OSCMessage message("/mantleshade/show", values);
    const rozuri::Data bytes = message.encodedData();
    const rozuri::OSCMessage decoded = rozuri::OSCMessage::decode(rozuri::DataView(bytes));
    if (!(decoded == message) || bytes.size() != 44) {
        std::cerr << "round trip failed: " << decoded.description() << "\n";
        return 1;
    }
    std::cout << decoded.description() << "\n";
    return 0;
}
