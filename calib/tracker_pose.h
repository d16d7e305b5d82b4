#pragma once
// One tracker's values as the device delivers them and the storage record
// receives them: position in feet, orientation in degrees.

struct TrackerPose {
    float x;
    float y;
    float z;
    float azim;  // about y (up)
    float elev;  // about x
    float roll;  // about z
};
