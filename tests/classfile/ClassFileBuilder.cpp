#include "ClassFileBuilder.h"

#include <stdexcept>

namespace {

void Put1(std::vector<uint8_t>& out, uint32_t value) { out.push_back(static_cast<uint8_t>(value)); }

void Put2(std::vector<uint8_t>& out, uint32_t value)
{
    Put1(out, value >> 8);
    Put1(out, value);
}

void Put4(std::vector<uint8_t>& out, uint32_t value)
{
    Put2(out, value >> 16);
    Put2(out, value);
}

void PutBytes(std::vector<uint8_t>& out, const std::vector<uint8_t>& bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }

} // namespace

ClassFileBuilder::ClassFileBuilder(const std::string& thisName, const std::string& superName)
{
    thisClass = Class(thisName);
    superClass = superName.empty() ? 0 : Class(superName);
}

uint16_t ClassFileBuilder::Add(std::vector<uint8_t> bytes, int slots)
{
    const uint16_t index = static_cast<uint16_t>(nextIndex_);
    pool_.push_back({std::move(bytes), slots});
    nextIndex_ += slots;
    return index;
}

uint16_t ClassFileBuilder::Utf8(const std::string& text)
{
    std::vector<uint8_t> bytes = {ctUtf8};
    Put2(bytes, static_cast<uint32_t>(text.size()));
    bytes.insert(bytes.end(), text.begin(), text.end());
    // Equal texts share one entry, as compilers write them.
    int index = 1;
    for (const Entry& entry : pool_) {
        if (entry.bytes == bytes)
            return static_cast<uint16_t>(index);
        index += entry.slots;
    }
    return Add(std::move(bytes));
}

uint16_t ClassFileBuilder::Class(const std::string& name)
{
    const uint16_t nameIndex = Utf8(name);
    std::vector<uint8_t> bytes = {ctClass};
    Put2(bytes, nameIndex);
    return Add(std::move(bytes));
}

uint16_t ClassFileBuilder::String(const std::string& text)
{
    const uint16_t textIndex = Utf8(text);
    std::vector<uint8_t> bytes = {ctString};
    Put2(bytes, textIndex);
    return Add(std::move(bytes));
}

uint16_t ClassFileBuilder::Integer(int32_t value)
{
    std::vector<uint8_t> bytes = {ctInteger};
    Put4(bytes, static_cast<uint32_t>(value));
    return Add(std::move(bytes));
}

uint16_t ClassFileBuilder::Float(uint32_t bits)
{
    std::vector<uint8_t> bytes = {ctFloat};
    Put4(bytes, bits);
    return Add(std::move(bytes));
}

uint16_t ClassFileBuilder::Long(uint32_t high, uint32_t low)
{
    std::vector<uint8_t> bytes = {ctLong};
    Put4(bytes, high);
    Put4(bytes, low);
    return Add(std::move(bytes), 2);
}

uint16_t ClassFileBuilder::Double(uint32_t high, uint32_t low)
{
    std::vector<uint8_t> bytes = {ctDouble};
    Put4(bytes, high);
    Put4(bytes, low);
    return Add(std::move(bytes), 2);
}

uint16_t ClassFileBuilder::NameAndType(const std::string& name, const std::string& descriptor)
{
    const uint16_t nameIndex = Utf8(name);
    const uint16_t descriptorIndex = Utf8(descriptor);
    std::vector<uint8_t> bytes = {ctNameAndType};
    Put2(bytes, nameIndex);
    Put2(bytes, descriptorIndex);
    return Add(std::move(bytes));
}

uint16_t ClassFileBuilder::Ref(uint8_t tag, const std::string& owner, const std::string& name, const std::string& descriptor)
{
    const uint16_t classIndex = Class(owner);
    const uint16_t nameAndType = NameAndType(name, descriptor);
    std::vector<uint8_t> bytes = {tag};
    Put2(bytes, classIndex);
    Put2(bytes, nameAndType);
    return Add(std::move(bytes));
}

uint16_t ClassFileBuilder::Fieldref(const std::string& owner, const std::string& name, const std::string& descriptor)
{
    return Ref(ctFieldref, owner, name, descriptor);
}

uint16_t ClassFileBuilder::Methodref(const std::string& owner, const std::string& name, const std::string& descriptor)
{
    return Ref(ctMethodref, owner, name, descriptor);
}

uint16_t ClassFileBuilder::InterfaceMethodref(const std::string& owner, const std::string& name,
                                              const std::string& descriptor)
{
    return Ref(ctInterfaceMethodref, owner, name, descriptor);
}

uint16_t ClassFileBuilder::RawEntry(uint8_t tag, const std::vector<uint16_t>& values)
{
    std::vector<uint8_t> bytes = {tag};
    for (uint16_t value : values)
        Put2(bytes, value);
    return Add(std::move(bytes));
}

void ClassFileBuilder::AddInterface(const std::string& name) { interfaces_.push_back(Class(name)); }

void ClassFileBuilder::AddField(const Field& field)
{
    std::vector<uint8_t> out;
    Put2(out, field.accessFlags);
    Put2(out, field.nameIndex ? *field.nameIndex : Utf8(field.name));
    Put2(out, field.descriptorIndex ? *field.descriptorIndex : Utf8(field.descriptor));
    Put2(out, static_cast<uint32_t>(field.extraAttributes.size() + (field.constantValue ? 1 : 0)));
    for (const Attribute& attribute : field.extraAttributes) {
        Put2(out, Utf8(attribute.first));
        Put4(out, static_cast<uint32_t>(attribute.second.size()));
        PutBytes(out, attribute.second);
    }
    if (field.constantValue) {
        Put2(out, Utf8("ConstantValue"));
        Put4(out, 2);
        Put2(out, *field.constantValue);
    }
    fields_.push_back(std::move(out));
}

void ClassFileBuilder::AddMethod(const Method& method)
{
    std::vector<uint8_t> out;
    Put2(out, method.accessFlags);
    Put2(out, method.nameIndex ? *method.nameIndex : Utf8(method.name));
    Put2(out, method.descriptorIndex ? *method.descriptorIndex : Utf8(method.descriptor));
    const size_t tables = (method.lines.empty() ? 0 : 1) + (method.locals.empty() ? 0 : 1);
    Put2(out, static_cast<uint32_t>(method.extraAttributes.size() + (method.hasCode ? 1 : 0) +
                                    (method.declaredExceptions.empty() ? 0 : 1)));
    for (const Attribute& attribute : method.extraAttributes) {
        Put2(out, Utf8(attribute.first));
        Put4(out, static_cast<uint32_t>(attribute.second.size()));
        PutBytes(out, attribute.second);
    }
    if (method.hasCode) {
        std::vector<uint8_t> code;
        Put2(code, method.maxStack);
        Put2(code, method.maxLocals);
        Put4(code, static_cast<uint32_t>(method.code.size()));
        PutBytes(code, method.code);
        Put2(code, static_cast<uint32_t>(method.handlers.size()));
        for (const ExceptionTableEntry& handler : method.handlers) {
            Put2(code, handler.startPc);
            Put2(code, handler.endPc);
            Put2(code, handler.handlerPc);
            Put2(code, handler.catchType);
        }
        Put2(code, static_cast<uint32_t>(method.extraCodeAttributes.size() + tables));
        for (const Attribute& attribute : method.extraCodeAttributes) {
            Put2(code, Utf8(attribute.first));
            Put4(code, static_cast<uint32_t>(attribute.second.size()));
            PutBytes(code, attribute.second);
        }
        if (!method.lines.empty()) {
            Put2(code, Utf8("LineNumberTable"));
            Put4(code, static_cast<uint32_t>(2 + 4 * method.lines.size()));
            Put2(code, static_cast<uint32_t>(method.lines.size()));
            for (const LineNumberEntry& line : method.lines) {
                Put2(code, line.startPc);
                Put2(code, line.lineNumber);
            }
        }
        if (!method.locals.empty()) {
            Put2(code, Utf8("LocalVariableTable"));
            Put4(code, static_cast<uint32_t>(2 + 10 * method.locals.size()));
            Put2(code, static_cast<uint32_t>(method.locals.size()));
            for (const LocalVariableEntry& local : method.locals) {
                Put2(code, local.startPc);
                Put2(code, local.length);
                Put2(code, local.nameIndex);
                Put2(code, local.descriptorIndex);
                Put2(code, local.slot);
            }
        }
        Put2(out, Utf8("Code"));
        Put4(out, static_cast<uint32_t>(code.size()));
        PutBytes(out, code);
    }
    if (!method.declaredExceptions.empty()) {
        Put2(out, Utf8("Exceptions"));
        Put4(out, static_cast<uint32_t>(2 + 2 * method.declaredExceptions.size()));
        Put2(out, static_cast<uint32_t>(method.declaredExceptions.size()));
        for (uint16_t index : method.declaredExceptions)
            Put2(out, index);
    }
    methods_.push_back(std::move(out));
}

std::vector<uint8_t> ClassFileBuilder::Build() const
{
    std::vector<uint8_t> out;
    Put4(out, 0xCAFEBABE);
    Put2(out, minorVersion);
    Put2(out, majorVersion);
    Put2(out, static_cast<uint32_t>(nextIndex_));
    for (const Entry& entry : pool_)
        PutBytes(out, entry.bytes);
    Put2(out, 0x0021); // public, super
    Put2(out, thisClass);
    Put2(out, superClass);
    Put2(out, static_cast<uint32_t>(interfaces_.size()));
    for (uint16_t index : interfaces_)
        Put2(out, index);
    Put2(out, static_cast<uint32_t>(fields_.size()));
    for (const std::vector<uint8_t>& field : fields_)
        PutBytes(out, field);
    Put2(out, static_cast<uint32_t>(methods_.size()));
    for (const std::vector<uint8_t>& method : methods_)
        PutBytes(out, method);
    Put2(out, static_cast<uint32_t>(classAttributes_.size()));
    for (const Attribute& attribute : classAttributes_) {
        // Class attribute names are not added to the pool: nothing reads them.
        Put2(out, 0);
        Put4(out, static_cast<uint32_t>(attribute.second.size()));
        PutBytes(out, attribute.second);
    }
    return out;
}

namespace {

class Walker {
public:
    explicit Walker(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    uint32_t U1() { return Take(1); }
    uint32_t U2() { return Take(2); }
    uint32_t U4() { return Take(4); }
    void Skip(size_t count)
    {
        if (at_ + count > bytes_.size())
            throw std::runtime_error("class file ends early");
        at_ += count;
    }
    size_t At() const { return at_; }

private:
    uint32_t Take(int count)
    {
        if (at_ + count > bytes_.size())
            throw std::runtime_error("class file ends early");
        uint32_t value = 0;
        for (int i = 0; i < count; ++i)
            value = (value << 8) | bytes_[at_++];
        return value;
    }
    const std::vector<uint8_t>& bytes_;
    size_t at_ = 0;
};

void SkipMembers(Walker& walk)
{
    const uint32_t count = walk.U2();
    for (uint32_t i = 0; i < count; ++i) {
        walk.Skip(6);
        const uint32_t attributes = walk.U2();
        for (uint32_t a = 0; a < attributes; ++a) {
            walk.Skip(2);
            walk.Skip(walk.U4());
        }
    }
}

} // namespace

size_t EndOfMethods(const std::vector<uint8_t>& classFile)
{
    Walker walk(classFile);
    walk.Skip(8);
    const uint32_t count = walk.U2();
    for (uint32_t index = 1; index < count; ++index) {
        const uint32_t tag = walk.U1();
        switch (tag) {
        case ctUtf8: walk.Skip(walk.U2()); break;
        case ctLong:
        case ctDouble: walk.Skip(8); ++index; break;
        case ctClass:
        case ctString: walk.Skip(2); break;
        default: walk.Skip(4); break;
        }
    }
    walk.Skip(6);
    walk.Skip(2 * walk.U2());
    SkipMembers(walk); // fields
    SkipMembers(walk); // methods
    return walk.At();
}
