#pragma once
// What a scan of the machine answers: the same codes as the scan's exit code.

const int ScanResultNothingFound = 0;
const int ScanResultUncheckable = 1;
const int ScanResultRootkitTraces = 2;
const int ScanResultServicesDiffer = 4;
