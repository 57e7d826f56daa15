"""What a receiver holds and says, as Python dataclasses; None for what its
data types do not hold or it did not give."""

import datetime
import math
from dataclasses import dataclass, field
from typing import List, Optional

_OLE_EPOCH = datetime.datetime(1899, 12, 30, tzinfo=datetime.timezone.utc)


def datetime_from_ole(days: float) -> Optional[datetime.datetime]:
    """An OLE Automation date (UTC) as an aware datetime, to the microsecond."""
    if days is None or math.isnan(days):
        return None
    return _OLE_EPOCH + datetime.timedelta(microseconds=round(days * 86400e6))


def ole_from_datetime(moment: Optional[datetime.datetime]) -> float:
    if moment is None:
        return math.nan
    if moment.tzinfo is None:
        raise ValueError("halvex32: a time must say its zone (datetime with tzinfo), as receivers keep UTC")
    return (moment - _OLE_EPOCH) / datetime.timedelta(days=1)


def given(value):
    """None for the library's "not given" (NaN, -1)."""
    if isinstance(value, float):
        return None if math.isnan(value) else value
    return None if value < 0 else value


@dataclass
class Product:
    id: int
    software_version: int  # hundredths: 310 is 3.10
    description: str
    waypoint_type: int = 0
    route_header_type: int = 0
    route_link_type: int = 0
    track_header_type: int = 0
    track_point_type: int = 0
    ident_width: int = 0
    comment_width: int = 0
    protocols: List[str] = field(default_factory=list)


@dataclass
class Waypoint:
    ident: str
    latitude: float
    longitude: float
    comment: str = ""
    altitude: Optional[float] = None  # metres
    depth: Optional[float] = None
    proximity: Optional[float] = None
    time: Optional[datetime.datetime] = None
    temperature: Optional[float] = None  # degrees Celsius
    symbol: Optional[int] = None  # 18 a waypoint, 8255 a geocache, 8256 a geocache found
    display: Optional[int] = None
    colour: Optional[int] = None
    category: Optional[int] = None
    waypoint_class: Optional[int] = None
    facility: str = ""
    city: str = ""
    address: str = ""
    cross_road: str = ""


@dataclass
class Route:
    waypoints: List[Waypoint]
    number: Optional[int] = None  # None where the receiver keeps routes by name
    name: str = ""
    comment: str = ""


@dataclass
class TrackPoint:
    latitude: float
    longitude: float
    time: Optional[datetime.datetime] = None
    altitude: Optional[float] = None
    depth: Optional[float] = None
    temperature: Optional[float] = None
    new_segment: bool = False
    track_name: Optional[str] = None  # on the first point of a track the receiver heads


@dataclass
class Position:
    time: Optional[datetime.datetime]
    latitude: Optional[float]
    longitude: Optional[float]
    altitude: Optional[float]
    speed: Optional[float]  # metres a second over ground
    course: Optional[float]  # degrees from true north
    climb: Optional[float]
    eph: Optional[float]
    epv: Optional[float]
    fix_mode: Optional[int]  # 1 none, 2 2-D, 3 3-D
    satellites: Optional[int]


@dataclass
class Clock:
    receiver: datetime.datetime  # as the receiver said
    host: datetime.datetime  # this computer's clock when it answered
    weeks_behind: int  # 0, 1024, 2048 ...: the receiver's GPS week count rolled over
