#pragma once

#include "hdf/diagnostics.h"
#include "hdf/hdfentries.h"

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace HdfParser {

// Reads and checks the hardware description file, then answers questions about it. The first
// error stops reading and checking and stays: its code, the line of the record that caused it,
// the RF path it concerns (codes 11, 12, 15) and the log line that explained it. What was read
// before the error stays available.
class HdfFileParser {
public:
    enum ErrorCode {
        NoError = 0,
        SyntaxError = 1,
        FileNotReadable = 2,
        EmptyFile = 3,
        MissingParameter = 4,
        NotUnique = 5,
        MissingHdfInfo = 6,
        MissingOrderInfo = 7,
        MissingBaseUnit = 8,
        MissingRfPathCooling = 9,
        MissingAmp = 10,
        RfPathWithoutAmplifier = 11,
        RfPathWithoutPreAmp = 12,
        // The board computation goes on past this one; nothing raises it yet.
        BoardsTolerated = 13,
        SwitchWithoutPorts = 14,
        UndefinedRfPath = 15,
    };

    HdfFileParser();
    explicit HdfFileParser(const std::string& path);

    // The program's one parser; the first call reads path.
    static HdfFileParser& instance(const std::string& path);

    // Forgets everything and reads the file at path; an empty path only sets code 3 and keeps
    // what was read before.
    void setHdf(const std::string& path);
    // The same for text that is already open; name stands for the file in log lines.
    void setHdf(std::istream& in, const std::string& name);

    const std::string& getFileName() const { return m_fileName; }
    int getErrorCode() const { return m_errorCode; }
    unsigned getErrorLine() const { return m_errorLine; }
    unsigned getErrorValue() const { return m_errorValue; }
    // The log line of the error, empty when there is none.
    const std::string& getErrorText() const { return m_errorText; }

    // Distinct (rack, unit) pairs in order of first appearance: one mainboard each.
    const std::vector<Board>& getBoards() const { return m_boards; }

    const HdfInfo& getHdfInfo() const { return m_hdfInfo; }
    const OrderInfo& getOrderInfo() const { return m_orderInfo; }
    const LiquidCooling& getLiquidCooling() const { return m_liquidCooling; }
    const BaseUnit& getBaseUnit() const { return m_baseUnit; }
    const InputSwitch7_1& getInputSwitch7_1() const { return m_inputSwitch; }
    const RfSamplePortSwitch& getRfSamplePortSwitch() const { return m_rfSamplePortSwitch; }
    const Option& getOption() const { return m_option; }
    const std::vector<RfPathCooling>& getRfPathCoolings() const { return m_rfPathCoolings; }
    const std::vector<PreAmp>& getPreAmplifiers() const { return m_preAmps; }
    const std::vector<Amp>& getPowerAmplifiers() const { return m_amps; }
    const std::vector<MilmegaAmp>& getMilmegaAmplifiers() const { return m_milmegaAmps; }
    const std::vector<ExtAmp>& getExternalAmplifiers() const { return m_extAmps; }
    const std::vector<MeasurementCoupler>& getMeasurementCouplers() const { return m_couplers; }
    const std::vector<MeasurementCouplerCable>& getMeasurementCouplerCables() const
    {
        return m_couplerCables;
    }
    const std::vector<OutputSwitchRadiall2_1>& getOutputSwitchesRadiall_2_1() const
    {
        return m_radiall2_1;
    }
    const std::vector<OutputSwitchRadiall1_2>& getOutputSwitchesRadiall_1_2() const
    {
        return m_radiall1_2;
    }
    const std::vector<OutputSwitchSpinner>& getOutputSwitchesSpinner_2_1() const
    {
        return m_spinner2_1;
    }
    const std::vector<OutputSwitchSpinner>& getOutputSwitchesSpinner_1_2() const
    {
        return m_spinner1_2;
    }
    const std::vector<UnitFan>& getUnitFans() const { return m_unitFans; }

    // Entries whose RF path lists hold rfPath, in file order.
    std::vector<PreAmp> getPreAmplifiersForRfPath(std::uint8_t rfPath) const;
    std::vector<Amp> getPowerAmplifiersForRfPath(std::uint8_t rfPath) const;
    std::vector<MilmegaAmp> getMilmegaAmplifiersForRfPath(std::uint8_t rfPath) const;
    std::vector<MeasurementCoupler> getMeasurementCouplersForRfPath(std::uint8_t rfPath) const;
    std::vector<MeasurementCouplerCable> getMeasurementCouplerCablesForRfPath(
        std::uint8_t rfPath) const;
    std::vector<OutputSwitchRadiall1_2> getOutputSwitchesRadiall_1_2ForRfPath(
        std::uint8_t rfPath) const;
    std::vector<OutputSwitchRadiall2_1> getOutputSwitchesRadiall_2_1ForRfPath(
        std::uint8_t rfPath) const;
    // Distinct (rack, unit) pairs of the path's amplifiers, pre-amplifiers, couplers, coupler
    // cables and Radiall switches, collected in that order.
    std::vector<Board> getBoardsForRfPath(std::uint8_t rfPath) const;
    bool doesRfPathHavePreAmplifier(std::uint8_t rfPath) const;
    bool doesRfPathHaveAmplifier(std::uint8_t rfPath) const;
    bool doesRfPathHaveMilmegaAmplifier(std::uint8_t rfPath) const;
    bool doesRfPathHaveExternalAmplifier(std::uint8_t rfPath) const;

    // "1.74" gives 1.74, "01.05" gives 1.5; an empty text gives 0.0 and a log line.
    NumericVersion extractHdfInfoSyntaxNumerical(const std::string& syntaxVersion) const;

    Base::Diagnostics& diag() { return m_diag; }

    // The grammar's text helpers, public for the tests of the grammar.
    static std::string eliminateBlankCharacter(const std::string& line);
    static std::string unpackParameter(const std::string& record, const std::string& name);
    static std::vector<std::string> splitMultipleParameters(const std::string& value);

private:
    struct Component;
    static const Component s_components[];

    void cleanUp();
    void readLineCommand(std::istream& in);
    bool selectLineCommand(const std::string& record, unsigned line);
    bool isValidLine(const std::string& record, unsigned line, const char* const* names,
        unsigned count, const char* component);
    void isEmptyFile(const std::string& lastLine, unsigned lineCount);
    void isValidCompleteFile();
    bool checkForValidRfPaths();
    bool isRfPathValid(std::uint8_t rfPath) const;
    void computeBoards();
    void compareBoards(std::uint8_t rack, std::uint8_t unit);
    void setupAirCoolers();

    bool processLineHdfInfo(const std::string& record, unsigned line);
    bool processLineOrderInfo(const std::string& record, unsigned line);
    bool processLineLiquidCooling(const std::string& record, unsigned line);
    bool processLineBaseUnit(const std::string& record, unsigned line);
    bool processLineInputSwitch7_1(const std::string& record, unsigned line);
    bool processLineRfPathCooling(const std::string& record, unsigned line);
    bool processLinePreAmp(const std::string& record, unsigned line);
    bool processLineAmp(const std::string& record, unsigned line);
    bool processLineMilmegaAmp(const std::string& record, unsigned line);
    bool processLineExtAmp(const std::string& record, unsigned line);
    bool processLineMeasurementCoupler(const std::string& record, unsigned line);
    bool processLineMeasurementCouplerCable(const std::string& record, unsigned line);
    bool processLineRfSamplePortSwitch(const std::string& record, unsigned line);
    bool processLineOutputSwitchRadiall2_1(const std::string& record, unsigned line);
    bool processLineOutputSwitchRadiall1_2(const std::string& record, unsigned line);
    bool processLineOutputSwitchSpinner2_1(const std::string& record, unsigned line);
    bool processLineOutputSwitchSpinner1_2(const std::string& record, unsigned line);
    bool processLineUnitFan(const std::string& record, unsigned line);
    bool processLineOption(const std::string& record, unsigned line);

    // Records the first error only; logs text with the emitting function.
    void setError(
        int code, unsigned line, unsigned value, const std::string& text, const char* function);
    bool notUnique(
        const char* component, const std::string& record, unsigned line, const char* function);
    bool missingPorts(
        const char* component, const std::string& record, unsigned line, const char* function);

    std::string m_fileName;
    int m_errorCode = NoError;
    unsigned m_errorLine = 0;
    unsigned m_errorValue = 0;
    std::string m_errorText;

    HdfInfo m_hdfInfo;
    OrderInfo m_orderInfo;
    LiquidCooling m_liquidCooling;
    BaseUnit m_baseUnit;
    InputSwitch7_1 m_inputSwitch;
    RfSamplePortSwitch m_rfSamplePortSwitch;
    Option m_option;
    std::vector<RfPathCooling> m_rfPathCoolings;
    std::vector<PreAmp> m_preAmps;
    std::vector<Amp> m_amps;
    std::vector<MilmegaAmp> m_milmegaAmps;
    std::vector<ExtAmp> m_extAmps;
    std::vector<MeasurementCoupler> m_couplers;
    std::vector<MeasurementCouplerCable> m_couplerCables;
    std::vector<OutputSwitchRadiall2_1> m_radiall2_1;
    std::vector<OutputSwitchRadiall1_2> m_radiall1_2;
    std::vector<OutputSwitchSpinner> m_spinner2_1;
    std::vector<OutputSwitchSpinner> m_spinner1_2;
    std::vector<UnitFan> m_unitFans;
    std::vector<Board> m_boards;
    // What the fan check compares against when a file has no fans; nothing depends on it.
    NumericVersion m_airCoolerReferenceVersion;

    Base::Diagnostics m_diag;
};

} // namespace HdfParser
