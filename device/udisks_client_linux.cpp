// The udisks2 client over sd-bus.
#include "device/udisks_client_linux.h"

#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace krevol::udisks {

namespace {

constexpr const char* kService = "org.freedesktop.UDisks2";

std::string errorText(int r, const sd_bus_error& error) {
    if (error.name != nullptr)
        return std::string(error.name) + ": " + (error.message != nullptr ? error.message : "");
    return std::string("D-Bus failure: ") + std::strerror(-r);
}

std::string byteString(const void* data, std::size_t size) {
    std::string text(static_cast<const char*>(data), size);
    while (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
}

// Reads one variant into `value` (unknown types are skipped). Returns < 0 on a malformed message.
int readVariant(sd_bus_message* m, Value& value) {
    char type = 0;
    const char* contents = nullptr;
    int r = sd_bus_message_peek_type(m, &type, &contents);
    if (r < 0) return r;
    if (type != 'v' || contents == nullptr) return -EINVAL;
    const std::string sig = contents;
    r = sd_bus_message_enter_container(m, 'v', contents);
    if (r < 0) return r;
    if (sig == "s" || sig == "o") {
        const char* s = nullptr;
        r = sd_bus_message_read_basic(m, sig[0], &s);
        if (r >= 0 && s != nullptr) value.text = s;
    } else if (sig == "b") {
        int b = 0;
        r = sd_bus_message_read_basic(m, 'b', &b);
        value.number = b != 0 ? 1 : 0;
    } else if (sig == "t" || sig == "x") {
        std::uint64_t n = 0;
        r = sd_bus_message_read_basic(m, sig[0], &n);
        value.number = n;
    } else if (sig == "u" || sig == "i") {
        std::uint32_t n = 0;
        r = sd_bus_message_read_basic(m, sig[0], &n);
        value.number = n;
    } else if (sig == "q" || sig == "n") {
        std::uint16_t n = 0;
        r = sd_bus_message_read_basic(m, sig[0], &n);
        value.number = n;
    } else if (sig == "y") {
        std::uint8_t n = 0;
        r = sd_bus_message_read_basic(m, 'y', &n);
        value.number = n;
    } else if (sig == "ay") {
        const void* data = nullptr;
        std::size_t size = 0;
        r = sd_bus_message_read_array(m, 'y', &data, &size);
        if (r >= 0) value.text = byteString(data, size);
    } else if (sig == "aay") {
        r = sd_bus_message_enter_container(m, 'a', "ay");
        while (r >= 0 && sd_bus_message_at_end(m, 0) == 0) {
            const void* data = nullptr;
            std::size_t size = 0;
            r = sd_bus_message_read_array(m, 'y', &data, &size);
            if (r >= 0) value.texts.push_back(byteString(data, size));
        }
        if (r >= 0) r = sd_bus_message_exit_container(m);
    } else if (sig == "as" || sig == "ao") {
        r = sd_bus_message_enter_container(m, 'a', sig.c_str() + 1);
        while (r >= 0 && sd_bus_message_at_end(m, 0) == 0) {
            const char* s = nullptr;
            r = sd_bus_message_read_basic(m, sig[1], &s);
            if (r >= 0 && s != nullptr) value.texts.emplace_back(s);
        }
        if (r >= 0) r = sd_bus_message_exit_container(m);
    } else {
        r = sd_bus_message_skip(m, contents);
    }
    if (r < 0) return r;
    return sd_bus_message_exit_container(m);
}

int appendOptions(sd_bus_message* m, const std::vector<Option>& options) {
    int r = sd_bus_message_open_container(m, 'a', "{sv}");
    for (const Option& option : options) {
        if (r >= 0) r = sd_bus_message_open_container(m, 'e', "sv");
        if (r >= 0) r = sd_bus_message_append_basic(m, 's', option.name.c_str());
        if (option.isFlag) {
            if (r >= 0) r = sd_bus_message_append(m, "v", "b", option.flag ? 1 : 0);
        } else {
            if (r >= 0) r = sd_bus_message_open_container(m, 'v', "as");
            if (r >= 0) r = sd_bus_message_open_container(m, 'a', "s");
            for (const std::string& t : option.texts)
                if (r >= 0) r = sd_bus_message_append_basic(m, 's', t.c_str());
            if (r >= 0) r = sd_bus_message_close_container(m);
            if (r >= 0) r = sd_bus_message_close_container(m);
        }
        if (r >= 0) r = sd_bus_message_close_container(m);
    }
    if (r >= 0) r = sd_bus_message_close_container(m);
    return r;
}

}  // namespace

bool Object::has(const std::string& interfaceName) const {
    return interfaces.count(interfaceName) != 0;
}

const Value* Object::property(const std::string& interfaceName, const std::string& name) const {
    auto i = interfaces.find(interfaceName);
    if (i == interfaces.end()) return nullptr;
    auto p = i->second.find(name);
    return p == i->second.end() ? nullptr : &p->second;
}

std::string Object::text(const std::string& interfaceName, const std::string& name) const {
    const Value* v = property(interfaceName, name);
    return v != nullptr ? v->text : std::string();
}

std::vector<std::string> Object::texts(const std::string& interfaceName, const std::string& name) const {
    const Value* v = property(interfaceName, name);
    return v != nullptr ? v->texts : std::vector<std::string>();
}

std::uint64_t Object::number(const std::string& interfaceName, const std::string& name) const {
    const Value* v = property(interfaceName, name);
    return v != nullptr ? v->number : 0;
}

Client::Client() = default;

Client::~Client() {
    if (bus_ != nullptr) sd_bus_flush_close_unref(bus_);
}

bool Client::connect() {
    if (bus_ != nullptr) return true;
    const char* choice = std::getenv("KREVOL_UDISKS_BUS");
    const std::string bus = choice != nullptr ? choice : "";
    int r = 0;
    if (bus.empty()) {
        r = sd_bus_open_system(&bus_);
    } else if (bus == "session") {
        r = sd_bus_open_user(&bus_);
    } else {
        r = sd_bus_new(&bus_);
        if (r >= 0) r = sd_bus_set_address(bus_, bus.c_str());
        if (r >= 0) r = sd_bus_set_bus_client(bus_, 1);
        if (r >= 0) r = sd_bus_start(bus_);
    }
    if (r < 0) {
        lastError_ = std::string("cannot connect to the D-Bus: ") + std::strerror(-r);
        if (bus_ != nullptr) sd_bus_unref(bus_);
        bus_ = nullptr;
        return false;
    }
    sd_bus_set_allow_interactive_authorization(bus_, 1);
    if (defaultTimeout_ != 0) sd_bus_set_method_call_timeout(bus_, defaultTimeout_);
    return true;
}

void Client::setDefaultTimeout(std::uint64_t usec) {
    defaultTimeout_ = usec;
    if (bus_ != nullptr && usec != 0) sd_bus_set_method_call_timeout(bus_, usec);
}

bool Client::objects(std::vector<Object>& out) {
    out.clear();
    if (!connect()) return false;
    sd_bus_error error{};  // SD_BUS_ERROR_NULL (its compound literal is C, not C++)
    sd_bus_message* reply = nullptr;
    int r = sd_bus_call_method(bus_, kService, "/org/freedesktop/UDisks2",
                               "org.freedesktop.DBus.ObjectManager", "GetManagedObjects", &error, &reply, "");
    if (r < 0) {
        lastError_ = errorText(r, error);
        sd_bus_error_free(&error);
        return false;
    }
    r = sd_bus_message_enter_container(reply, 'a', "{oa{sa{sv}}}");
    while (r >= 0 && (r = sd_bus_message_enter_container(reply, 'e', "oa{sa{sv}}")) > 0) {
        Object object;
        const char* path = nullptr;
        r = sd_bus_message_read_basic(reply, 'o', &path);
        if (r >= 0 && path != nullptr) object.path = path;
        if (r >= 0) r = sd_bus_message_enter_container(reply, 'a', "{sa{sv}}");
        while (r >= 0 && (r = sd_bus_message_enter_container(reply, 'e', "sa{sv}")) > 0) {
            const char* name = nullptr;
            r = sd_bus_message_read_basic(reply, 's', &name);
            Properties& properties = object.interfaces[name != nullptr ? name : ""];
            if (r >= 0) r = sd_bus_message_enter_container(reply, 'a', "{sv}");
            while (r >= 0 && (r = sd_bus_message_enter_container(reply, 'e', "sv")) > 0) {
                const char* property = nullptr;
                r = sd_bus_message_read_basic(reply, 's', &property);
                Value value;
                if (r >= 0) r = readVariant(reply, value);
                if (r >= 0 && property != nullptr) properties[property] = std::move(value);
                if (r >= 0) r = sd_bus_message_exit_container(reply);
            }
            if (r >= 0) r = sd_bus_message_exit_container(reply);
            if (r >= 0) r = sd_bus_message_exit_container(reply);
        }
        if (r >= 0) r = sd_bus_message_exit_container(reply);
        if (r >= 0) r = sd_bus_message_exit_container(reply);
        if (r >= 0) out.push_back(std::move(object));
    }
    sd_bus_message_unref(reply);
    if (r < 0) {
        lastError_ = std::string("malformed answer of GetManagedObjects: ") + std::strerror(-r);
        return false;
    }
    return true;
}

std::string Client::version() {
    if (!connect()) return {};
    sd_bus_error error{};  // SD_BUS_ERROR_NULL (its compound literal is C, not C++)
    char* text = nullptr;
    const int r = sd_bus_get_property_string(bus_, kService, "/org/freedesktop/UDisks2/Manager",
                                             "org.freedesktop.UDisks2.Manager", "Version", &error, &text);
    sd_bus_error_free(&error);
    std::string version = r >= 0 && text != nullptr ? text : "";
    std::free(text);
    return version;
}

bool Client::call(const std::string& path, const std::string& interfaceName, const std::string& method,
                  const std::string& first, const std::vector<Option>& options, std::uint64_t timeoutUsec,
                  std::string* reply) {
    if (!connect()) return false;
    sd_bus_message* m = nullptr;
    int r = sd_bus_message_new_method_call(bus_, &m, kService, path.c_str(), interfaceName.c_str(),
                                           method.c_str());
    if (r >= 0) r = sd_bus_message_set_allow_interactive_authorization(m, 1);
    if (r >= 0 && !first.empty()) r = sd_bus_message_append_basic(m, 's', first.c_str());
    if (r >= 0) r = appendOptions(m, options);
    if (r < 0) {
        sd_bus_message_unref(m);
        lastError_ = std::string("cannot build the call ") + method + ": " + std::strerror(-r);
        return false;
    }
    sd_bus_error error{};  // SD_BUS_ERROR_NULL (its compound literal is C, not C++)
    sd_bus_message* answer = nullptr;
    r = sd_bus_call(bus_, m, timeoutUsec, &error, &answer);
    sd_bus_message_unref(m);
    if (r < 0) {
        lastError_ = errorText(r, error);
        sd_bus_error_free(&error);
        return false;
    }
    if (reply != nullptr) {
        const char* s = nullptr;
        if (sd_bus_message_read_basic(answer, 's', &s) > 0 && s != nullptr) *reply = s;
    }
    sd_bus_message_unref(answer);
    return true;
}

std::vector<const Object*> blocksOfDrive(const std::vector<Object>& objects, const std::string& drivePath) {
    std::vector<const Object*> blocks;
    if (drivePath.empty() || drivePath == "/") return blocks;
    for (const Object& o : objects)
        if (o.has(kBlock) && o.text(kBlock, "Drive") == drivePath) blocks.push_back(&o);
    return blocks;
}

const Object* blockMountedAt(const std::vector<Object>& objects, const std::string& mountPoint) {
    for (const Object& o : objects) {
        if (!o.has(kBlock) || !o.has(kFilesystem)) continue;
        for (const std::string& m : o.texts(kFilesystem, "MountPoints"))
            if (m == mountPoint) return &o;
    }
    return nullptr;
}

const Object* findObject(const std::vector<Object>& objects, const std::string& path) {
    for (const Object& o : objects)
        if (o.path == path) return &o;
    return nullptr;
}

std::pair<int, int> parseVersion(const std::string& version) {
    char* end = nullptr;
    const long major = std::strtol(version.c_str(), &end, 10);
    if (end == version.c_str() || *end != '.') return {0, 0};
    const char* minorText = end + 1;
    const long minor = std::strtol(minorText, &end, 10);
    if (end == minorText) return {0, 0};
    return {static_cast<int>(major), static_cast<int>(minor)};
}

}  // namespace krevol::udisks
