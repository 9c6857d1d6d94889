#include "size/SizeJson.h"

#include <nlohmann/json.hpp>

namespace {

using Json = nlohmann::ordered_json;

const char* const kSchema = "morvane-size/1";

Json LimitJson(const LimitUse& row)
{
    Json limit;
    limit["key"] = row.key;
    limit["use"] = row.use;
    limit[row.atLeast ? "minimum" : "maximum"] = row.limit;
    limit["where"] = row.where.empty() ? Json() : Json(row.where);
    limit["passed"] = row.passed;
    limit["error"] = row.error.empty() ? Json() : Json(row.error);
    return limit;
}

Json MethodJson(const MethodSize& m)
{
    Json method;
    method["name"] = m.name;
    method["descriptor"] = m.descriptor;
    method["offset"] = m.offset;
    method["bytes"] = m.Bytes();
    method["prologue"] = m.prologue;
    method["code"] = m.code;
    method["exceptionTable"] = m.exceptionTable;
    method["native"] = m.native;
    method["argumentWords"] = m.argumentWords;
    method["locals"] = m.locals;
    return method;
}

Json ClassJson(const ClassSize& c)
{
    Json klass;
    klass["name"] = c.name;
    klass["offset"] = c.offset;
    klass["bytes"] = c.Bytes();
    klass["classRecord"] = c.record;
    klass["code"] = c.code;
    klass["exceptionTables"] = c.exceptionTables;
    klass["strings"] = c.strings;
    klass["stringCount"] = c.stringCount;
    klass["methodTableEntries"] = c.methodTableEntries;
    klass["staticFields"] = c.staticFields;
    klass["library"] = c.library;
    klass["onlyThroughLibrary"] = c.onlyThroughLibrary;
    klass["broughtInBy"] = c.broughtInBy.empty() ? Json() : Json(c.broughtInBy);
    klass["methods"] = Json::array();
    for (const MethodSize& m : c.methods)
        klass["methods"].push_back(MethodJson(m));
    return klass;
}

Json LimitsJson(const std::vector<LimitUse>& rows)
{
    Json limits = Json::array();
    for (const LimitUse& row : rows)
        limits.push_back(LimitJson(row));
    return limits;
}

} // namespace

std::string SizeJson(const ProgramSize& program)
{
    Json document;
    document["schema"] = kSchema;
    document["main"] = program.mainClass;
    document["linkEndsWith"] = program.linkEndsWith;
    document["limits"] = LimitsJson(program.limits);
    Json image;
    image["bytes"] = program.imageBytes;
    image["header"] = program.headerBytes;
    int32_t records = 0, code = 0, handlers = 0, strings = 0;
    for (const ClassSize& c : program.classes) {
        records += c.record;
        code += c.code;
        handlers += c.exceptionTables;
        strings += c.strings;
    }
    image["classRecords"] = records;
    image["code"] = code;
    image["exceptionTables"] = handlers;
    image["stringIndex"] = program.stringIndexBytes;
    image["strings"] = strings;
    document["image"] = image;
    Json ram;
    ram["bytes"] = program.ram.ram;
    ram["staticFields"] = program.ram.staticFields;
    ram["stack"] = program.ram.stack;
    ram["heap"] = program.ram.heap;
    document["ram"] = ram;
    document["classes"] = Json::array();
    for (const ClassSize& c : program.classes)
        document["classes"].push_back(ClassJson(c));
    return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string SizeJson(const ImageTotals& totals)
{
    Json document;
    document["schema"] = kSchema;
    document["mox"] = totals.fileName;
    document["limits"] = LimitsJson(totals.limits);
    Json image;
    image["bytes"] = totals.imageBytes;
    image["header"] = totals.headerBytes;
    image["classRecordsAndCode"] = totals.classesAndCodeBytes;
    image["stringIndex"] = totals.stringIndexBytes;
    image["strings"] = totals.stringBytes;
    document["image"] = image;
    Json ram;
    ram["bytes"] = totals.ram.ram;
    ram["staticFields"] = totals.ram.staticFields;
    ram["stack"] = totals.ram.stack;
    ram["heap"] = totals.ram.heap;
    document["ram"] = ram;
    return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}
