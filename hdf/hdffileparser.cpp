#include "hdf/hdffileparser.h"

#include "kubus/log/kulog.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace HdfParser {

namespace {

// printf-style texts of any length (records can be long).
std::string format(const char* pattern, ...)
{
    va_list args;
    va_start(args, pattern);
    va_list copy;
    va_copy(copy, args);
    const int size = std::vsnprintf(nullptr, 0, pattern, copy);
    va_end(copy);
    std::string text(size > 0 ? std::size_t(size) : 0, '\0');
    if (size > 0)
        std::vsnprintf(&text[0], text.size() + 1, pattern, args);
    va_end(args);
    return text;
}

std::uint8_t toNumber(const std::string& text)
{
    // Eight-bit fields keep the low byte, as a plain narrowing store would.
    return static_cast<std::uint8_t>(std::strtol(text.c_str(), nullptr, 10));
}

RfPathList toRfPaths(const std::string& value)
{
    RfPathList paths;
    for (const std::string& piece : HdfFileParser::splitMultipleParameters(value))
        paths.push_back(toNumber(piece));
    return paths;
}

bool holds(const RfPathList& paths, std::uint8_t rfPath)
{
    return std::find(paths.begin(), paths.end(), rfPath) != paths.end();
}

template <std::size_t N> bool holds(const std::array<RfPathList, N>& ports, std::uint8_t rfPath)
{
    return std::any_of(
        ports.begin(), ports.end(), [rfPath](const RfPathList& p) { return holds(p, rfPath); });
}

template <class T> std::vector<T> entriesFor(const std::vector<T>& list, std::uint8_t rfPath)
{
    std::vector<T> found;
    for (const T& entry : list)
        if (holds(entry.rfPaths, rfPath))
            found.push_back(entry);
    return found;
}

template <class T> bool anyFor(const std::vector<T>& list, std::uint8_t rfPath)
{
    return std::any_of(
        list.begin(), list.end(), [rfPath](const T& e) { return holds(e.rfPaths, rfPath); });
}

// The first RF path of paths that no cooling entry defines, through valid.
template <class Valid> bool firstInvalid(const RfPathList& paths, Valid valid, std::uint8_t* rfPath)
{
    for (std::uint8_t p : paths)
        if (!valid(p)) {
            *rfPath = p;
            return true;
        }
    return false;
}

// The value of a numbered port, "rf_path_in(2)(3,4)"; false when the port is not named.
bool readPort(const std::string& record, const char* name, int number, RfPathList* paths)
{
    const std::string port = format("%s(%d)", name, number);
    if (record.find(port) == std::string::npos)
        return false;
    *paths = toRfPaths(HdfFileParser::unpackParameter(record, port));
    return true;
}

bool yes(const std::string& value)
{
    return value == "yes";
}

const char* const hdfInfoNames[] = { "filedate", "syntaxversion", "createdby" };
const char* const orderInfoNames[] = { "ordernumber", "orderversion" };
const char* const typeNames[] = { "type" };
const char* const baseUnitNames[] = { "type", "rack", "unit", "mmi" };
const char* const typeRackUnitNames[] = { "type", "rack", "unit" };
const char* const rfPathCoolingNames[] = { "rf_path", "cooling", "output" };
const char* const ampNames[] = { "type", "rack", "unit", "position", "rf_path" };
const char* const milmegaAmpNames[] = { "type", "ip", "port", "rf_path" };
const char* const extAmpNames[] = { "rf_path" };
const char* const couplerNames[] = { "type", "rack", "unit", "port", "rf_path" };
const char* const couplerCableNames[] = { "rack", "unit", "port", "rf_path" };
const char* const sampleSwitchNames[] = { "type", "rack", "unit", "mode" };
const char* const radiallNames[] = { "type", "rack", "unit", "port" };
const char* const unitFanNames[] = { "rack", "unit", "port" };
const char* const optionNames[] = { "direct_mute", "afrc" };

} // namespace

// The components in the order their keywords are compared, each with the parameters every
// record of it must carry (numbered switch ports and optional parameters are read later).
struct HdfFileParser::Component {
    const char* keyword;
    const char* const* names;
    unsigned count;
    bool (HdfFileParser::*process)(const std::string& record, unsigned line);
};

#define HDF_COMPONENT(keyword, names, process)                                                     \
    {                                                                                              \
        keyword, names, sizeof(names) / sizeof(names[0]), &HdfFileParser::process                  \
    }
const HdfFileParser::Component HdfFileParser::s_components[] = {
    HDF_COMPONENT("HDFInfo", hdfInfoNames, processLineHdfInfo),
    HDF_COMPONENT("OrderInfo", orderInfoNames, processLineOrderInfo),
    HDF_COMPONENT("LiquidCooling", typeNames, processLineLiquidCooling),
    HDF_COMPONENT("BaseUnit", baseUnitNames, processLineBaseUnit),
    HDF_COMPONENT("InputSwitch7-1", typeRackUnitNames, processLineInputSwitch7_1),
    HDF_COMPONENT("RF_Path_Cooling", rfPathCoolingNames, processLineRfPathCooling),
    HDF_COMPONENT("PreAmp", ampNames, processLinePreAmp),
    HDF_COMPONENT("Amp", ampNames, processLineAmp),
    HDF_COMPONENT("MilmegaAmp", milmegaAmpNames, processLineMilmegaAmp),
    HDF_COMPONENT("ExtAmp", extAmpNames, processLineExtAmp),
    HDF_COMPONENT("MeasurementCoupler", couplerNames, processLineMeasurementCoupler),
    HDF_COMPONENT("MeasurementCouplerCable", couplerCableNames, processLineMeasurementCouplerCable),
    HDF_COMPONENT("RfSamplePortSwitch", sampleSwitchNames, processLineRfSamplePortSwitch),
    HDF_COMPONENT("OutputSwitchRadiall2-1", radiallNames, processLineOutputSwitchRadiall2_1),
    HDF_COMPONENT("OutputSwitchRadiall1-2", radiallNames, processLineOutputSwitchRadiall1_2),
    HDF_COMPONENT("OutputSwitchSpinner2-1", typeNames, processLineOutputSwitchSpinner2_1),
    HDF_COMPONENT("OutputSwitchSpinner1-2", typeNames, processLineOutputSwitchSpinner1_2),
    HDF_COMPONENT("UnitFan", unitFanNames, processLineUnitFan),
    HDF_COMPONENT("Option", optionNames, processLineOption),
};
#undef HDF_COMPONENT

HdfFileParser::HdfFileParser()
    : m_diag("HdfFileParser")
{
}

HdfFileParser::HdfFileParser(const std::string& path)
    : HdfFileParser()
{
    setHdf(path);
}

HdfFileParser& HdfFileParser::instance(const std::string& path)
{
    static HdfFileParser parser(path);
    return parser;
}

void HdfFileParser::setHdf(const std::string& path)
{
    m_fileName = path;
    m_errorCode = NoError;
    m_errorLine = 0;
    m_errorValue = 0;
    m_errorText.clear();
    // No file named: the description read before stays, only the error tells.
    if (path.empty()) {
        setError(EmptyFile, 0, 0, "HdfFileParser::setHdf: empty HDF file name", Q_FUNC_INFO);
        return;
    }
    cleanUp();
    std::ifstream in(path, std::ios::in | std::ios::binary);
    readLineCommand(in);
}

void HdfFileParser::setHdf(std::istream& in, const std::string& name)
{
    m_fileName = name;
    m_errorCode = NoError;
    m_errorLine = 0;
    m_errorValue = 0;
    m_errorText.clear();
    cleanUp();
    readLineCommand(in);
}

void HdfFileParser::cleanUp()
{
    m_hdfInfo = HdfInfo();
    m_orderInfo = OrderInfo();
    m_liquidCooling = LiquidCooling();
    m_baseUnit = BaseUnit();
    m_inputSwitch = InputSwitch7_1();
    m_rfSamplePortSwitch = RfSamplePortSwitch();
    m_option = Option();
    m_rfPathCoolings.clear();
    m_preAmps.clear();
    m_amps.clear();
    m_milmegaAmps.clear();
    m_extAmps.clear();
    m_couplers.clear();
    m_couplerCables.clear();
    m_radiall2_1.clear();
    m_radiall1_2.clear();
    m_spinner2_1.clear();
    m_spinner1_2.clear();
    m_unitFans.clear();
    m_boards.clear();
    m_airCoolerReferenceVersion = NumericVersion();
}

std::string HdfFileParser::eliminateBlankCharacter(const std::string& line)
{
    const std::size_t first = line.find_first_not_of(" \t");
    return first == std::string::npos ? std::string() : line.substr(first);
}

std::string HdfFileParser::unpackParameter(const std::string& record, const std::string& name)
{
    const std::size_t at = record.find(name);
    if (at == std::string::npos)
        return std::string();
    // The value starts after the "(" that follows the name.
    const std::size_t begin = at + name.size() + 1;
    if (begin > record.size())
        return std::string();
    const std::size_t end = record.find(')', begin);
    return record.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

std::vector<std::string> HdfFileParser::splitMultipleParameters(const std::string& value)
{
    std::vector<std::string> pieces;
    std::size_t begin = 0;
    for (;;) {
        const std::size_t comma = value.find(',', begin);
        pieces.push_back(value.substr(begin, comma == std::string::npos ? comma : comma - begin));
        if (comma == std::string::npos)
            return pieces;
        begin = comma + 1;
    }
}

// A record ends with the line whose next-to-last character is ";": the controller's files are
// CR LF and the line still holds its CR. A record that goes on loses its last character (that CR)
// before the next line joins it. A line ending in LF alone therefore never ends a record and
// loses its ";" instead, so an LF-only file runs together into one record and is refused.
void HdfFileParser::readLineCommand(std::istream& in)
{
    std::string line;
    std::string lastLine;
    std::string record;
    unsigned count = 0;
    bool stopped = false;
    // The CR that closes a record is no part of its text (nor of the log lines quoting it).
    const auto withoutCr = [](std::string text) {
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
        return text;
    };
    if (!in.good()) {
        setError(FileNotReadable, 0, 0,
            format("HdfFileParser::readLineCommand: cannot open HDF %s", m_fileName.c_str()),
            Q_FUNC_INFO);
    } else {
        while (!stopped && std::getline(in, line)) {
            ++count;
            lastLine = line;
            if (line.size() < 2 || line[0] == '#')
                continue;
            const std::string text = eliminateBlankCharacter(line);
            if (!record.empty())
                record.pop_back();
            record += text;
            if (text.size() < 2 || text[text.size() - 2] != ';')
                continue;
            stopped = !selectLineCommand(withoutCr(record), count);
            record.clear();
        }
        if (in.bad()) {
            setError(FileNotReadable, 0, 0,
                format("HdfFileParser::readLineCommand: cannot read HDF %s", m_fileName.c_str()),
                Q_FUNC_INFO);
        } else if (!stopped && !record.empty()) {
            selectLineCommand(withoutCr(record), count);
        }
    }
    isEmptyFile(lastLine, count);
    isValidCompleteFile();
    computeBoards();
    setupAirCoolers();
    if (m_diag.enabled(Base::Diagnostics::Info))
        m_diag.trace(Base::Diagnostics::Info,
            format("%s: %u lines, error %d, %zu boards, %zu amplifiers", m_fileName.c_str(), count,
                m_errorCode, m_boards.size(), m_amps.size()),
            Q_FUNC_INFO);
}

bool HdfFileParser::selectLineCommand(const std::string& record, unsigned line)
{
    const std::size_t equals = record.find('=');
    if (equals == std::string::npos) {
        setError(SyntaxError, line, 0,
            format("HdfFileParser::selectLineCommand: missing '=' in line %u: %s", line,
                record.c_str()),
            Q_FUNC_INFO);
        return false;
    }
    const std::string name = record.substr(0, equals);
    for (const Component& component : s_components) {
        if (name != component.keyword)
            continue;
        if (m_diag.enabled(Base::Diagnostics::Debug))
            m_diag.trace(
                Base::Diagnostics::Debug, format("line %u: %s", line, record.c_str()), Q_FUNC_INFO);
        if (!isValidLine(record, line, component.names, component.count, component.keyword))
            return false;
        return (this->*component.process)(record, line);
    }
    setError(SyntaxError, line, 0,
        format("HdfFileParser::selectLineCommand: unknown component found in line %u: %s", line,
            record.c_str()),
        Q_FUNC_INFO);
    return false;
}

bool HdfFileParser::isValidLine(const std::string& record, unsigned line, const char* const* names,
    unsigned count, const char* component)
{
    (void)component;
    for (unsigned i = 0; i < count; ++i) {
        const std::string name = names[i];
        const std::size_t at = record.find(name);
        if (at == std::string::npos) {
            setError(MissingParameter, line, 0,
                format("HdfFileParser::isValidLine: missing '%s' in line %u: %s", name.c_str(),
                    line, record.c_str()),
                Q_FUNC_INFO);
            return false;
        }
        const std::size_t open = at + name.size();
        if (open >= record.size() || record[open] != '(') {
            setError(SyntaxError, line, 0,
                format(
                    "HdfFileParser::isValidLine: missing '(' in line %u: %s", line, record.c_str()),
                Q_FUNC_INFO);
            return false;
        }
        const std::size_t close = record.find(')', open + 1);
        if (i + 1 < count) {
            const std::size_t next = record.find('(', open + 1);
            if (close == std::string::npos || (next != std::string::npos && next < close)) {
                setError(SyntaxError, line, 0,
                    format("HdfFileParser::isValidLine: missing ')' in line %u: %s", line,
                        record.c_str()),
                    Q_FUNC_INFO);
                return false;
            }
        } else if (close == std::string::npos || record.find(';', close) == std::string::npos) {
            setError(SyntaxError, line, 0,
                format(
                    "HdfFileParser::isValidLine: missing ';' in line %u: %s", line, record.c_str()),
                Q_FUNC_INFO);
            return false;
        }
    }
    return true;
}

void HdfFileParser::isEmptyFile(const std::string& lastLine, unsigned lineCount)
{
    if (m_errorCode != NoError || lineCount > 1)
        return;
    if (lastLine.empty() || lastLine == "\r")
        setError(EmptyFile, 0, 0, "HdfFileParser::isEmptyFile: empty HDF!", Q_FUNC_INFO);
}

void HdfFileParser::setError(
    int code, unsigned line, unsigned value, const std::string& text, const char* function)
{
    if (m_errorCode != NoError)
        return;
    m_errorCode = code;
    m_errorLine = line;
    m_errorValue = value;
    m_errorText = text;
    Kubus::kuPrint(text.c_str(), function);
}

bool HdfFileParser::notUnique(
    const char* component, const std::string& record, unsigned line, const char* function)
{
    setError(NotUnique, line, 0,
        format("HdfFileParser::isUnique%s: %s defined twice in line %u: %s", component, component,
            line, record.c_str()),
        function);
    return false;
}

bool HdfFileParser::missingPorts(
    const char* component, const std::string& record, unsigned line, const char* function)
{
    setError(SwitchWithoutPorts, line, 0,
        format("HdfFileParser::read%s: switch ports missing in line %u: %s", component, line,
            record.c_str()),
        function);
    return false;
}

// ---- line processors: check the singleton, read the values, check the list, keep ----

bool HdfFileParser::processLineHdfInfo(const std::string& record, unsigned line)
{
    if (!m_hdfInfo.syntaxVersion.empty())
        return notUnique("HDFInfo", record, line, Q_FUNC_INFO);
    HdfInfo info;
    info.fileDateText = unpackParameter(record, "filedate");
    info.fileDate = Base::DateTime::fromText(info.fileDateText);
    info.syntaxVersion = unpackParameter(record, "syntaxversion");
    info.createdBy = unpackParameter(record, "createdby");
    info.syntaxVersionNumerical = extractHdfInfoSyntaxNumerical(info.syntaxVersion);
    m_hdfInfo = info;
    return true;
}

bool HdfFileParser::processLineOrderInfo(const std::string& record, unsigned line)
{
    if (!m_orderInfo.orderNumber.empty())
        return notUnique("OrderInfo", record, line, Q_FUNC_INFO);
    m_orderInfo.orderNumber = unpackParameter(record, "ordernumber");
    m_orderInfo.orderVersion = unpackParameter(record, "orderversion");
    return true;
}

bool HdfFileParser::processLineLiquidCooling(const std::string& record, unsigned line)
{
    if (!m_liquidCooling.type.empty())
        return notUnique("LiquidCooling", record, line, Q_FUNC_INFO);
    m_liquidCooling.type = unpackParameter(record, "type");
    return true;
}

bool HdfFileParser::processLineBaseUnit(const std::string& record, unsigned line)
{
    if (!m_baseUnit.type.empty())
        return notUnique("BaseUnit", record, line, Q_FUNC_INFO);
    m_baseUnit.type = unpackParameter(record, "type");
    m_baseUnit.rack = toNumber(unpackParameter(record, "rack"));
    m_baseUnit.unit = toNumber(unpackParameter(record, "unit"));
    m_baseUnit.mmi = yes(unpackParameter(record, "mmi"));
    return true;
}

bool HdfFileParser::processLineInputSwitch7_1(const std::string& record, unsigned line)
{
    if (!m_inputSwitch.type.empty())
        return notUnique("InputSwitch7-1", record, line, Q_FUNC_INFO);
    InputSwitch7_1 entry;
    entry.type = unpackParameter(record, "type");
    entry.rack = toNumber(unpackParameter(record, "rack"));
    entry.unit = toNumber(unpackParameter(record, "unit"));
    entry.line = line;
    bool anyPort = false;
    for (int n = 1; n <= 7; ++n)
        anyPort |= readPort(record, "rf_path_out", n, &entry.outputs[std::size_t(n - 1)]);
    if (!anyPort)
        return missingPorts("InputSwitch7-1", record, line, Q_FUNC_INFO);
    m_inputSwitch = entry;
    return true;
}

bool HdfFileParser::processLineRfPathCooling(const std::string& record, unsigned line)
{
    RfPathCooling entry;
    entry.rfPath = toNumber(unpackParameter(record, "rf_path"));
    const std::string cooling = unpackParameter(record, "cooling");
    entry.cooling = cooling == "air" ? CoolingKind::Air
        : cooling == "liquid_int"    ? CoolingKind::LiquidInternal
        : cooling == "liquid_custom" ? CoolingKind::LiquidCustom
                                     : CoolingKind::Other;
    entry.output = toNumber(unpackParameter(record, "output"));
    if (entry.output == 0)
        entry.output = entry.rfPath;
    entry.line = line;
    for (const RfPathCooling& other : m_rfPathCoolings)
        if (other.rfPath == entry.rfPath && other.cooling == entry.cooling)
            return notUnique("RF_Path_Cooling", record, line, Q_FUNC_INFO);
    m_rfPathCoolings.push_back(entry);
    return true;
}

bool HdfFileParser::processLinePreAmp(const std::string& record, unsigned line)
{
    PreAmp entry;
    entry.type = unpackParameter(record, "type");
    entry.rack = toNumber(unpackParameter(record, "rack"));
    entry.unit = toNumber(unpackParameter(record, "unit"));
    entry.position = toNumber(unpackParameter(record, "position"));
    entry.rfPaths = toRfPaths(unpackParameter(record, "rf_path"));
    entry.slave = unpackParameter(record, "role") == "slave";
    entry.line = line;
    for (const PreAmp& other : m_preAmps)
        if (other.rack == entry.rack && other.unit == entry.unit
            && other.position == entry.position)
            return notUnique("PreAmp", record, line, Q_FUNC_INFO);
    m_preAmps.push_back(entry);
    return true;
}

bool HdfFileParser::processLineAmp(const std::string& record, unsigned line)
{
    Amp entry;
    entry.type = unpackParameter(record, "type");
    entry.rack = toNumber(unpackParameter(record, "rack"));
    entry.unit = toNumber(unpackParameter(record, "unit"));
    entry.position = toNumber(unpackParameter(record, "position"));
    entry.rfPaths = toRfPaths(unpackParameter(record, "rf_path"));
    entry.line = line;
    for (const Amp& other : m_amps)
        if (other.rack == entry.rack && other.unit == entry.unit
            && other.position == entry.position)
            return notUnique("Amp", record, line, Q_FUNC_INFO);
    m_amps.push_back(entry);
    return true;
}

bool HdfFileParser::processLineMilmegaAmp(const std::string& record, unsigned line)
{
    MilmegaAmp entry;
    entry.type = unpackParameter(record, "type");
    entry.ip = unpackParameter(record, "ip");
    entry.port = unpackParameter(record, "port");
    entry.rfPaths = toRfPaths(unpackParameter(record, "rf_path"));
    entry.line = line;
    m_milmegaAmps.push_back(entry);
    return true;
}

bool HdfFileParser::processLineExtAmp(const std::string& record, unsigned line)
{
    ExtAmp entry;
    entry.rfPaths = toRfPaths(unpackParameter(record, "rf_path"));
    entry.line = line;
    for (const ExtAmp& other : m_extAmps)
        if (other.rfPaths == entry.rfPaths)
            return notUnique("ExtAmp", record, line, Q_FUNC_INFO);
    m_extAmps.push_back(entry);
    return true;
}

bool HdfFileParser::processLineMeasurementCoupler(const std::string& record, unsigned line)
{
    MeasurementCoupler entry;
    entry.type = unpackParameter(record, "type");
    entry.rack = toNumber(unpackParameter(record, "rack"));
    entry.unit = toNumber(unpackParameter(record, "unit"));
    entry.port = toNumber(unpackParameter(record, "port"));
    entry.rfPaths = toRfPaths(unpackParameter(record, "rf_path"));
    entry.line = line;
    for (const MeasurementCoupler& other : m_couplers)
        if (other.rack == entry.rack && other.unit == entry.unit && other.port == entry.port)
            return notUnique("MeasurementCoupler", record, line, Q_FUNC_INFO);
    m_couplers.push_back(entry);
    return true;
}

bool HdfFileParser::processLineMeasurementCouplerCable(const std::string& record, unsigned line)
{
    MeasurementCouplerCable entry;
    entry.rack = toNumber(unpackParameter(record, "rack"));
    entry.unit = toNumber(unpackParameter(record, "unit"));
    entry.port = toNumber(unpackParameter(record, "port"));
    entry.rfPaths = toRfPaths(unpackParameter(record, "rf_path"));
    entry.line = line;
    for (const MeasurementCouplerCable& other : m_couplerCables)
        if (other.rack == entry.rack && other.unit == entry.unit && other.port == entry.port
            && other.rfPaths == entry.rfPaths)
            return notUnique("MeasurementCouplerCable", record, line, Q_FUNC_INFO);
    m_couplerCables.push_back(entry);
    return true;
}

bool HdfFileParser::processLineRfSamplePortSwitch(const std::string& record, unsigned line)
{
    if (!m_rfSamplePortSwitch.type.empty())
        return notUnique("RfSamplePortSwitch", record, line, Q_FUNC_INFO);
    RfSamplePortSwitch entry;
    entry.type = unpackParameter(record, "type");
    entry.rack = toNumber(unpackParameter(record, "rack"));
    entry.unit = toNumber(unpackParameter(record, "unit"));
    bool anyPort = false;
    for (int n = 1; n <= 4; ++n)
        anyPort |= readPort(record, "rf_path_in", n, &entry.inputs[std::size_t(n - 1)]);
    const std::string mode = unpackParameter(record, "mode");
    entry.mode = mode == "parallel" ? SampleMode::Parallel
        : mode == "sequential"      ? SampleMode::Sequential
                                    : SampleMode::Other;
    entry.explicitPortSelectionAllowed
        = unpackParameter(record, "explicit_port_selection_allowed") != "no";
    entry.line = line;
    if (!anyPort)
        return missingPorts("RfSamplePortSwitch", record, line, Q_FUNC_INFO);
    m_rfSamplePortSwitch = entry;
    return true;
}

bool HdfFileParser::processLineOutputSwitchRadiall2_1(const std::string& record, unsigned line)
{
    OutputSwitchRadiall2_1 entry;
    entry.type = unpackParameter(record, "type");
    entry.rack = toNumber(unpackParameter(record, "rack"));
    entry.unit = toNumber(unpackParameter(record, "unit"));
    entry.port = toNumber(unpackParameter(record, "port"));
    entry.line = line;
    const bool first = readPort(record, "rf_path_in", 1, &entry.inputs[0]);
    const bool second = readPort(record, "rf_path_in", 2, &entry.inputs[1]);
    if (!first || !second)
        return missingPorts("OutputSwitchRadiall2-1", record, line, Q_FUNC_INFO);
    for (const OutputSwitchRadiall2_1& other : m_radiall2_1)
        if (other.type == entry.type && other.rack == entry.rack && other.unit == entry.unit
            && other.port == entry.port)
            return notUnique("OutputSwitchRadiall2-1", record, line, Q_FUNC_INFO);
    m_radiall2_1.push_back(entry);
    return true;
}

bool HdfFileParser::processLineOutputSwitchRadiall1_2(const std::string& record, unsigned line)
{
    OutputSwitchRadiall1_2 entry;
    entry.type = unpackParameter(record, "type");
    entry.rack = toNumber(unpackParameter(record, "rack"));
    entry.unit = toNumber(unpackParameter(record, "unit"));
    entry.port = toNumber(unpackParameter(record, "port"));
    entry.line = line;
    const bool first = readPort(record, "rf_path_out", 1, &entry.outputs[0]);
    const bool second = readPort(record, "rf_path_out", 2, &entry.outputs[1]);
    if (!first || !second)
        return missingPorts("OutputSwitchRadiall1-2", record, line, Q_FUNC_INFO);
    for (const OutputSwitchRadiall1_2& other : m_radiall1_2)
        if (other.type == entry.type && other.rack == entry.rack && other.unit == entry.unit
            && other.port == entry.port)
            return notUnique("OutputSwitchRadiall1-2", record, line, Q_FUNC_INFO);
    m_radiall1_2.push_back(entry);
    return true;
}

bool HdfFileParser::processLineOutputSwitchSpinner2_1(const std::string& record, unsigned line)
{
    m_spinner2_1.push_back({ unpackParameter(record, "type"), line });
    return true;
}

bool HdfFileParser::processLineOutputSwitchSpinner1_2(const std::string& record, unsigned line)
{
    m_spinner1_2.push_back({ unpackParameter(record, "type"), line });
    return true;
}

bool HdfFileParser::processLineUnitFan(const std::string& record, unsigned line)
{
    UnitFan entry;
    entry.rack = toNumber(unpackParameter(record, "rack"));
    entry.unit = toNumber(unpackParameter(record, "unit"));
    entry.port = unpackParameter(record, "port");
    entry.line = line;
    for (const UnitFan& other : m_unitFans)
        if (other.rack == entry.rack && other.unit == entry.unit && other.port == entry.port)
            return notUnique("UnitFan", record, line, Q_FUNC_INFO);
    m_unitFans.push_back(entry);
    return true;
}

bool HdfFileParser::processLineOption(const std::string& record, unsigned line)
{
    if (m_option.defined)
        return notUnique("Option", record, line, Q_FUNC_INFO);
    m_option.directMute = yes(unpackParameter(record, "direct_mute"));
    m_option.afrc = yes(unpackParameter(record, "afrc"));
    m_option.defined = true;
    return true;
}

// ---- checks of the whole file ----

void HdfFileParser::isValidCompleteFile()
{
    if (m_errorCode != NoError)
        return;
    const char* const missing = "HdfFileParser::isValidCompleteFile: %s missing in hdf %s";
    const char* file = m_fileName.c_str();
    if (m_hdfInfo.syntaxVersion.empty())
        return setError(MissingHdfInfo, 0, 0, format(missing, "HDFInfo", file), Q_FUNC_INFO);
    if (m_orderInfo.orderNumber.empty())
        return setError(MissingOrderInfo, 0, 0, format(missing, "OrderInfo", file), Q_FUNC_INFO);
    if (m_baseUnit.type.empty())
        return setError(MissingBaseUnit, 0, 0, format(missing, "BaseUnit", file), Q_FUNC_INFO);
    if (m_rfPathCoolings.empty())
        return setError(
            MissingRfPathCooling, 0, 0, format(missing, "RF_Path_Cooling", file), Q_FUNC_INFO);
    if (m_amps.empty())
        return setError(MissingAmp, 0, 0, format(missing, "Amp", file), Q_FUNC_INFO);
    if (!checkForValidRfPaths())
        return;

    const auto valid = [this](std::uint8_t p) { return isRfPathValid(p); };
    const char* function = Q_FUNC_INFO;
    const auto reject = [this, function](
                            const char* component, unsigned line, std::uint8_t rfPath) {
        setError(UndefinedRfPath, line, rfPath,
            format("HdfFileParser::isValidCompleteFile: %s in line %u names RF path %u, which no "
                   "RF_Path_Cooling defines",
                component, line, unsigned(rfPath)),
            function);
    };
    std::uint8_t bad = 0;
    for (const Amp& e : m_amps)
        if (firstInvalid(e.rfPaths, valid, &bad))
            return reject("Amp", e.line, bad);
    for (const MilmegaAmp& e : m_milmegaAmps)
        if (firstInvalid(e.rfPaths, valid, &bad))
            return reject("MilmegaAmp", e.line, bad);
    for (const PreAmp& e : m_preAmps)
        if (firstInvalid(e.rfPaths, valid, &bad))
            return reject("PreAmp", e.line, bad);
    for (const ExtAmp& e : m_extAmps)
        if (firstInvalid(e.rfPaths, valid, &bad))
            return reject("ExtAmp", e.line, bad);
    for (const MeasurementCoupler& e : m_couplers)
        if (firstInvalid(e.rfPaths, valid, &bad))
            return reject("MeasurementCoupler", e.line, bad);
    for (const MeasurementCouplerCable& e : m_couplerCables)
        if (firstInvalid(e.rfPaths, valid, &bad))
            return reject("MeasurementCouplerCable", e.line, bad);
    // Also a switch read with an empty type(): its ports name RF paths all the same.
    for (const RfPathList& port : m_inputSwitch.outputs)
        if (firstInvalid(port, valid, &bad))
            return reject("InputSwitch7-1", m_inputSwitch.line, bad);
    for (const OutputSwitchRadiall2_1& e : m_radiall2_1)
        for (const RfPathList& port : e.inputs)
            if (firstInvalid(port, valid, &bad))
                return reject("OutputSwitchRadiall2-1", e.line, bad);
    for (const OutputSwitchRadiall1_2& e : m_radiall1_2)
        for (const RfPathList& port : e.outputs)
            if (firstInvalid(port, valid, &bad))
                return reject("OutputSwitchRadiall1-2", e.line, bad);
}

bool HdfFileParser::isRfPathValid(std::uint8_t rfPath) const
{
    return std::any_of(m_rfPathCoolings.begin(), m_rfPathCoolings.end(),
        [rfPath](const RfPathCooling& c) { return c.rfPath == rfPath; });
}

bool HdfFileParser::checkForValidRfPaths()
{
    for (const RfPathCooling& cooling : m_rfPathCoolings) {
        const unsigned path = cooling.rfPath;
        if (path > m_rfPathCoolings.size() || cooling.output == 0 || cooling.output > 10) {
            setError(SyntaxError, cooling.line, 0,
                format("HdfFileParser::checkForValidRfPaths: RF path %u with output %u in line %u "
                       "is out of range (%zu RF paths, outputs 1 to 10)",
                    path, unsigned(cooling.output), cooling.line, m_rfPathCoolings.size()),
                Q_FUNC_INFO);
            return false;
        }
        if (anyFor(m_milmegaAmps, cooling.rfPath) || anyFor(m_extAmps, cooling.rfPath))
            continue;
        if (!anyFor(m_amps, cooling.rfPath)) {
            setError(RfPathWithoutAmplifier, 0, path,
                format("HdfFileParser::checkForValidRfPaths: RF path %u has no Amp, MilmegaAmp or "
                       "ExtAmp",
                    path),
                Q_FUNC_INFO);
            return false;
        }
        if (!anyFor(m_preAmps, cooling.rfPath)) {
            setError(RfPathWithoutPreAmp, 0, path,
                format("HdfFileParser::checkForValidRfPaths: RF path %u has Amp entries but no "
                       "PreAmp",
                    path),
                Q_FUNC_INFO);
            return false;
        }
    }
    return true;
}

void HdfFileParser::compareBoards(std::uint8_t rack, std::uint8_t unit)
{
    const Board board { rack, unit };
    if (std::find(m_boards.begin(), m_boards.end(), board) == m_boards.end())
        m_boards.push_back(board);
}

void HdfFileParser::computeBoards()
{
    if (m_errorCode != NoError && m_errorCode != BoardsTolerated)
        return;
    m_boards.clear();
    compareBoards(m_baseUnit.rack, m_baseUnit.unit);
    if (!m_inputSwitch.type.empty())
        compareBoards(m_inputSwitch.rack, m_inputSwitch.unit);
    for (const PreAmp& e : m_preAmps)
        compareBoards(e.rack, e.unit);
    for (const Amp& e : m_amps)
        compareBoards(e.rack, e.unit);
    for (const MeasurementCoupler& e : m_couplers)
        compareBoards(e.rack, e.unit);
    for (const MeasurementCouplerCable& e : m_couplerCables)
        compareBoards(e.rack, e.unit);
    if (!m_rfSamplePortSwitch.type.empty())
        compareBoards(m_rfSamplePortSwitch.rack, m_rfSamplePortSwitch.unit);
    for (const OutputSwitchRadiall2_1& e : m_radiall2_1)
        compareBoards(e.rack, e.unit);
    for (const OutputSwitchRadiall1_2& e : m_radiall1_2)
        compareBoards(e.rack, e.unit);
}

void HdfFileParser::setupAirCoolers()
{
    if (m_unitFans.empty()) {
        m_airCoolerReferenceVersion = extractHdfInfoSyntaxNumerical("1.74");
        return;
    }
    if (m_boards.empty())
        return;
    for (const UnitFan& fan : m_unitFans) {
        const Board board { fan.rack, fan.unit };
        if (std::find(m_boards.begin(), m_boards.end(), board) == m_boards.end()) {
            setError(SyntaxError, fan.line, 0,
                format("HdfFileParser::setupAirCoolers: UnitFan on rack %u unit %u in line %u has "
                       "no board",
                    unsigned(fan.rack), unsigned(fan.unit), fan.line),
                Q_FUNC_INFO);
            return;
        }
    }
}

NumericVersion HdfFileParser::extractHdfInfoSyntaxNumerical(const std::string& syntaxVersion) const
{
    NumericVersion version;
    if (syntaxVersion.empty()) {
        Kubus::kuPrint(format("HdfFileParser::extractHdfInfoSyntaxNumerical(...) - empty syntax "
                              "version detected in hdf %s !",
                           m_fileName.c_str())
                           .c_str(),
            Q_FUNC_INFO);
        return version;
    }
    std::string kept;
    for (char c : syntaxVersion)
        if ((c >= '0' && c <= '9') || c == '.')
            kept += c;
    const std::size_t dot = kept.find('.');
    std::string major = kept.substr(0, dot);
    std::string minor = dot == std::string::npos ? std::string() : kept.substr(dot + 1);
    for (std::string* part : { &major, &minor })
        if (!part->empty() && (*part)[0] == '0')
            part->erase(0, 1);
    version.major = toNumber(major);
    version.minor = toNumber(minor);
    return version;
}

// ---- queries per RF path ----

std::vector<PreAmp> HdfFileParser::getPreAmplifiersForRfPath(std::uint8_t rfPath) const
{
    return entriesFor(m_preAmps, rfPath);
}

std::vector<Amp> HdfFileParser::getPowerAmplifiersForRfPath(std::uint8_t rfPath) const
{
    return entriesFor(m_amps, rfPath);
}

std::vector<MilmegaAmp> HdfFileParser::getMilmegaAmplifiersForRfPath(std::uint8_t rfPath) const
{
    return entriesFor(m_milmegaAmps, rfPath);
}

std::vector<MeasurementCoupler> HdfFileParser::getMeasurementCouplersForRfPath(
    std::uint8_t rfPath) const
{
    return entriesFor(m_couplers, rfPath);
}

std::vector<MeasurementCouplerCable> HdfFileParser::getMeasurementCouplerCablesForRfPath(
    std::uint8_t rfPath) const
{
    return entriesFor(m_couplerCables, rfPath);
}

std::vector<OutputSwitchRadiall1_2> HdfFileParser::getOutputSwitchesRadiall_1_2ForRfPath(
    std::uint8_t rfPath) const
{
    std::vector<OutputSwitchRadiall1_2> found;
    for (const OutputSwitchRadiall1_2& e : m_radiall1_2)
        if (holds(e.outputs, rfPath))
            found.push_back(e);
    return found;
}

std::vector<OutputSwitchRadiall2_1> HdfFileParser::getOutputSwitchesRadiall_2_1ForRfPath(
    std::uint8_t rfPath) const
{
    std::vector<OutputSwitchRadiall2_1> found;
    for (const OutputSwitchRadiall2_1& e : m_radiall2_1)
        if (holds(e.inputs, rfPath))
            found.push_back(e);
    return found;
}

std::vector<Board> HdfFileParser::getBoardsForRfPath(std::uint8_t rfPath) const
{
    std::vector<Board> boards;
    const auto add = [&boards](std::uint8_t rack, std::uint8_t unit) {
        const Board board { rack, unit };
        if (std::find(boards.begin(), boards.end(), board) == boards.end())
            boards.push_back(board);
    };
    for (const Amp& e : getPowerAmplifiersForRfPath(rfPath))
        add(e.rack, e.unit);
    for (const PreAmp& e : getPreAmplifiersForRfPath(rfPath))
        add(e.rack, e.unit);
    for (const MeasurementCoupler& e : getMeasurementCouplersForRfPath(rfPath))
        add(e.rack, e.unit);
    for (const MeasurementCouplerCable& e : getMeasurementCouplerCablesForRfPath(rfPath))
        add(e.rack, e.unit);
    for (const OutputSwitchRadiall2_1& e : getOutputSwitchesRadiall_2_1ForRfPath(rfPath))
        add(e.rack, e.unit);
    for (const OutputSwitchRadiall1_2& e : getOutputSwitchesRadiall_1_2ForRfPath(rfPath))
        add(e.rack, e.unit);
    return boards;
}

bool HdfFileParser::doesRfPathHavePreAmplifier(std::uint8_t rfPath) const
{
    return anyFor(m_preAmps, rfPath);
}

bool HdfFileParser::doesRfPathHaveAmplifier(std::uint8_t rfPath) const
{
    return anyFor(m_amps, rfPath);
}

bool HdfFileParser::doesRfPathHaveMilmegaAmplifier(std::uint8_t rfPath) const
{
    return anyFor(m_milmegaAmps, rfPath);
}

bool HdfFileParser::doesRfPathHaveExternalAmplifier(std::uint8_t rfPath) const
{
    return anyFor(m_extAmps, rfPath);
}

} // namespace HdfParser
