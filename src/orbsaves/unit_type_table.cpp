#include "orbsaves/unit_type_table.h"

namespace orbse {

// Spelling exactly as the game has it, slips included ("ASSUALT GUN",
// "MISSLE_LAUNCHER", "rokcr"): the report shows what the game calls a type.
const std::array<unit_type_row, unit_type_count> unit_type_table{{
    {"COMM_TOWER", "Gold Refinery", "gref"}, // 0
    {"POWER_STN", "Power Plant", "powerpl"}, // 1
    {"POWER_GEN", "Power Generator", "powergen"}, // 2
    {"BARRACKS", "Barracks", "barrak"}, // 3
    {"SHIELD_GEN", "Shield Generator", ""}, // 4
    {"RADAR", "Radar", "radar"}, // 5
    {"SMALL STORAGE", "Material Store", "matstore"}, // 6
    {"SMALL FUEL_TANK", "Fuel Store", "fuelstore"}, // 7
    {"SMALL GOLD VAULT", "Gold Store", "goldstore"}, // 8
    {"DEPOT", "Depot", "store"}, // 9
    {"HANGAR", "Hangar", "hang"}, // 10
    {"DOCK", "Dock", "dock"}, // 11
    {"CONNECTOR_4W", "Connector", "conn"}, // 12
    {"LARGE_RUBBLE", "Big Rubble", "bigrubble"}, // 13
    {"SMALL_RUBBLE", "Small rubble", "smlrubble"}, // 14
    {"LARGE_TAPE", "Big Rope", "bigrope"}, // 15
    {"SMALL_TAPE", "Small Rope", "smlrope"}, // 16
    {"LARGE_SLAB", "Big Plate", "bigplate"}, // 17
    {"SMALL_SLAB", "Small Plate", "smlplate"}, // 18
    {"LARGE_CONES", "Big Cones", "bigcone"}, // 19
    {"SMALL_CONES", "Small Cones", "smlcone"}, // 20
    {"ROAD", "Road", "road"}, // 21
    {"LANDING_PAD", "Landing pad", "landpad"}, // 22
    {"SHIPYARD", "Shipyard", "shipyard"}, // 23
    {"LIGHT_UNIT_PLANT", "Light Plant", "lightplant"}, // 24
    {"LAND_UNIT_PLANT", "Heavy Plant", "hvplant"}, // 25
    {"SUPPORT_PLANT", "Support Plant", ""}, // 26
    {"AIR_UNIT_PLANT", "Air Plant", "airplant"}, // 27
    {"HABITAT", "Habitat", "habitat"}, // 28
    {"RESEARCH_CENTER", "Lab", "research"}, // 29
    {"GREEN HOUSE", "Ecosphere", "ecosphere"}, // 30
    {"REC CENTER", "Recr Center", ""}, // 31
    {"TRAINING HALL", "Training Hall", "pehplant"}, // 32
    {"SEA RIG", "", ""}, // 33
    {"Gun Turret", "Gun Turret", "turret"}, // 34
    {"ANTI_AIRCRAFT", "AA Turret", "zenit"}, // 35
    {"artillery turret", "Artillery Turret", "arturret"}, // 36
    {"Missile turret", "Missile Turret", "misturret"}, // 37
    {"BLOCK", "Block", "conblock"}, // 38
    {"BRIDGE", "Bridge", "bridge"}, // 39
    {"MINING_STATION", "Mining", "mining"}, // 40
    {"LAND MINE", "Land Mine", "landmine"}, // 41
    {"SEA MINE", "Sea Mine", "seamine"}, // 42
    {"LAND EXPLOSION", "Land Boom", "-"}, // 43
    {"AIR EXPLOSION", "Air Boom", "-"}, // 44
    {"SEA EXPLOSION", "Sea Boom", "-"}, // 45
    {"BUILDING EXPLO", "Bld Boom", "-"}, // 46
    {"HIT EXPLOSION", "Hit Boom", "-"}, // 47
    {"MASTER_UNIT", "Master Unit", "-"}, // 48
    {"CONSTRUCTOR", "Constructor", "constructor"}, // 49
    {"SCOUT", "Scout", "scout"}, // 50
    {"TANK", "Tank", "tank"}, // 51
    {"ASSUALT GUN", "Assault Gun", "asgun"}, // 52
    {"Rocket launcher", "Rocketter", "rocket"}, // 53
    {"MISSLE_LAUNCHER", "Grad Launcher", "crawler"}, // 54
    {"MOBILE AA", "Mobile AA Gun", "aagunm"}, // 55
    {"MINE_LAYER", "Mine Layer", "miner"}, // 56
    {"SURVEYOR", "Surveyor", "surveyor"}, // 57
    {"SCANNER", "Scanner", "scanner"}, // 58
    {"SUPPLY TRUCK", "Material Truck", "truck"}, // 59
    {"GOLD TRUCK", "Gold Truck", "gtruck"}, // 60
    {"ENGINEER", "Engineer", "engineer"}, // 61
    {"BULLDOZER", "Bulldozer", "dozer"}, // 62
    {"REPAIR", "Repair Unit", "repair"}, // 63
    {"FUEL TRUCK", "Fuel Truck", "fueltruck"}, // 64
    {"COLONIST TRANS", "Personnel Car", "pcan"}, // 65
    {"COMMANDO", "Infiltrator", "infil"}, // 66
    {"INFANTRY", "Infantry", "infantry"}, // 67
    {"AA BOAT", "Escort", "escort"}, // 68
    {"CORVETTE", "Corvette", "corvette"}, // 69
    {"GUNBOAT", "Gunboat", "gunboat"}, // 70
    {"SUBMARINE", "Submarine", "sub"}, // 71
    {"SEA_TRANSPORT", "Sea Transport", "seatrans"}, // 72
    {"MISSLE_BOAT", "Rocket Boat", "rokcr"}, // 73
    {"SEA MINE LAYER", "Sea Mine Layer", "seaminelay"}, // 74
    {"CARGO SHIP", "Cargo Ship", "seacargo"}, // 75
    {"FIGHTER", "Interceptor", "inter"}, // 76
    {"BOMBER", "Bomber", "bomber"}, // 77
    {"AIR_TRANSPORT", "Air Transport", "airtrans"}, // 78
    {"AWAC", "AWAC", "awac"}, // 79
    {"ALIEN GUN BOAT", "Alien Gunboat", "juger"}, // 80
    {"ALIEN TANK", "Alien Tank", "alntank"}, // 81
    {"ALIEN ASSGUN", "Alien Assgun", "alnasgun"}, // 82
    {"ALIEN ATTPLANE", "Alien Bomber", "alnplane"}, // 83
    {"ROCKET", "Rocket", "-"}, // 84
    {"TORPEDO", "Torpedo", "-"}, // 85
    {"ALIEN MISSLE", "Alien Missile", "-"}, // 86
    {"ALIEN TANK PBALL", "Alien Tank PBall", "-"}, // 87
    {"ALIEN ART PBALL", "Alien Art PBall", "-"}, // 88
    {"SMOKE_TRAIL", "Smoke Trail", "-"}, // 89
    {"BUBBLE_TRAIL", "Bubble Trail", "-"}, // 90
    {"HARVESTER", "Harvester", "-"}, // 91
    {"WALDO", "Waldo", "-"}, // 92
}};

} // namespace orbse
