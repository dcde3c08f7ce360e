"""
Python bindings of the orvane library for PMT hit reconstruction.

Exposes Hit, HitFeatures, TarvoTrigger, MultiPMTTrigger, HitMaker, FeatureExtractor and ChargeReconstruction.
"""
from __future__ import annotations
import collections.abc
import numpy
import numpy.dtypes
import numpy.typing
import os
import pathlib
import typing
__all__: list[str] = ['ChannelTable', 'ChargeReconstruction', 'FeatureExtractor', 'Hit', 'HitFeatures', 'HitMaker', 'LoadedSettings', 'MultiPMTTrigger', 'RunInfo', 'SettingsProblem', 'TarvoTrigger', 'VectorHit', 'VectorHitFeatures', 'VectorUInt16', 'check_settings', 'drop_dtype', 'hit_dtype', 'hit_features_dtype', 'hit_features_list_to_numpy', 'hit_list_to_numpy', 'multipmt_trigger_dtype', 'numpy_to_hit_features_list', 'numpy_to_hit_list', 'pulse_dtype', 'summarize_settings', 'tarvo_trigger_dtype']
class VectorHitFeatures:
    def __bool__(self) -> bool:
        """
        Check whether the list is nonempty
        """
    @typing.overload
    def __delitem__(self, arg0: typing.SupportsInt | typing.SupportsIndex) -> None:
        """
        Delete the list elements at index ``i``
        """
    @typing.overload
    def __delitem__(self, arg0: slice) -> None:
        """
        Delete list elements using a slice object
        """
    @typing.overload
    def __getitem__(self, s: slice) -> VectorHitFeatures:
        """
        Retrieve list elements using a slice object
        """
    @typing.overload
    def __getitem__(self, arg0: typing.SupportsInt | typing.SupportsIndex) -> HitFeatures:
        ...
    @typing.overload
    def __init__(self) -> None:
        ...
    @typing.overload
    def __init__(self, arg0: VectorHitFeatures) -> None:
        """
        Copy constructor
        """
    @typing.overload
    def __init__(self, arg0: collections.abc.Iterable) -> None:
        ...
    def __iter__(self) -> collections.abc.Iterator[HitFeatures]:
        ...
    def __len__(self) -> int:
        ...
    @typing.overload
    def __setitem__(self, arg0: typing.SupportsInt | typing.SupportsIndex, arg1: HitFeatures) -> None:
        ...
    @typing.overload
    def __setitem__(self, arg0: slice, arg1: VectorHitFeatures) -> None:
        """
        Assign list elements using a slice object
        """
    def append(self, x: HitFeatures) -> None:
        """
        Add an item to the end of the list
        """
    def clear(self) -> None:
        """
        Clear the contents
        """
    @typing.overload
    def extend(self, L: VectorHitFeatures) -> None:
        """
        Extend the list by appending all the items in the given list
        """
    @typing.overload
    def extend(self, L: collections.abc.Iterable) -> None:
        """
        Extend the list by appending all the items in the given list
        """
    def insert(self, i: typing.SupportsInt | typing.SupportsIndex, x: HitFeatures) -> None:
        """
        Insert an item at a given position.
        """
    @typing.overload
    def pop(self) -> HitFeatures:
        """
        Remove and return the last item
        """
    @typing.overload
    def pop(self, i: typing.SupportsInt | typing.SupportsIndex) -> HitFeatures:
        """
        Remove and return the item at index ``i``
        """
class VectorHit:
    def __bool__(self) -> bool:
        """
        Check whether the list is nonempty
        """
    @typing.overload
    def __delitem__(self, arg0: typing.SupportsInt | typing.SupportsIndex) -> None:
        """
        Delete the list elements at index ``i``
        """
    @typing.overload
    def __delitem__(self, arg0: slice) -> None:
        """
        Delete list elements using a slice object
        """
    @typing.overload
    def __getitem__(self, s: slice) -> VectorHit:
        """
        Retrieve list elements using a slice object
        """
    @typing.overload
    def __getitem__(self, arg0: typing.SupportsInt | typing.SupportsIndex) -> Hit:
        ...
    @typing.overload
    def __init__(self) -> None:
        ...
    @typing.overload
    def __init__(self, arg0: VectorHit) -> None:
        """
        Copy constructor
        """
    @typing.overload
    def __init__(self, arg0: collections.abc.Iterable) -> None:
        ...
    def __iter__(self) -> collections.abc.Iterator[Hit]:
        ...
    def __len__(self) -> int:
        ...
    @typing.overload
    def __setitem__(self, arg0: typing.SupportsInt | typing.SupportsIndex, arg1: Hit) -> None:
        ...
    @typing.overload
    def __setitem__(self, arg0: slice, arg1: VectorHit) -> None:
        """
        Assign list elements using a slice object
        """
    def append(self, x: Hit) -> None:
        """
        Add an item to the end of the list
        """
    def clear(self) -> None:
        """
        Clear the contents
        """
    @typing.overload
    def extend(self, L: VectorHit) -> None:
        """
        Extend the list by appending all the items in the given list
        """
    @typing.overload
    def extend(self, L: collections.abc.Iterable) -> None:
        """
        Extend the list by appending all the items in the given list
        """
    def insert(self, i: typing.SupportsInt | typing.SupportsIndex, x: Hit) -> None:
        """
        Insert an item at a given position.
        """
    @typing.overload
    def pop(self) -> Hit:
        """
        Remove and return the last item
        """
    @typing.overload
    def pop(self, i: typing.SupportsInt | typing.SupportsIndex) -> Hit:
        """
        Remove and return the item at index ``i``
        """
class VectorUInt16:
    __hash__: typing.ClassVar[None]  # type: ignore[assignment]  # mutable, so unhashable
    def __bool__(self) -> bool:
        """
        Check whether the list is nonempty
        """
    def __contains__(self, x: typing.SupportsInt | typing.SupportsIndex) -> bool:
        """
        Return true the container contains ``x``
        """
    @typing.overload
    def __delitem__(self, arg0: typing.SupportsInt | typing.SupportsIndex) -> None:
        """
        Delete the list elements at index ``i``
        """
    @typing.overload
    def __delitem__(self, arg0: slice) -> None:
        """
        Delete list elements using a slice object
        """
    def __eq__(self, arg0: object) -> bool:
        ...
    @typing.overload
    def __getitem__(self, s: slice) -> VectorUInt16:
        """
        Retrieve list elements using a slice object
        """
    @typing.overload
    def __getitem__(self, arg0: typing.SupportsInt | typing.SupportsIndex) -> int:
        ...
    @typing.overload
    def __init__(self) -> None:
        ...
    @typing.overload
    def __init__(self, arg0: VectorUInt16) -> None:
        """
        Copy constructor
        """
    @typing.overload
    def __init__(self, arg0: collections.abc.Iterable) -> None:
        ...
    def __iter__(self) -> collections.abc.Iterator[int]:
        ...
    def __len__(self) -> int:
        ...
    def __ne__(self, arg0: object) -> bool:
        ...
    def __repr__(self) -> str:
        """
        Return the canonical string representation of this list.
        """
    @typing.overload
    def __setitem__(self, arg0: typing.SupportsInt | typing.SupportsIndex, arg1: typing.SupportsInt | typing.SupportsIndex) -> None:
        ...
    @typing.overload
    def __setitem__(self, arg0: slice, arg1: VectorUInt16) -> None:
        """
        Assign list elements using a slice object
        """
    def append(self, x: typing.SupportsInt | typing.SupportsIndex) -> None:
        """
        Add an item to the end of the list
        """
    def clear(self) -> None:
        """
        Clear the contents
        """
    def count(self, x: typing.SupportsInt | typing.SupportsIndex) -> int:
        """
        Return the number of times ``x`` appears in the list
        """
    @typing.overload
    def extend(self, L: VectorUInt16) -> None:
        """
        Extend the list by appending all the items in the given list
        """
    @typing.overload
    def extend(self, L: collections.abc.Iterable) -> None:
        """
        Extend the list by appending all the items in the given list
        """
    def insert(self, i: typing.SupportsInt | typing.SupportsIndex, x: typing.SupportsInt | typing.SupportsIndex) -> None:
        """
        Insert an item at a given position.
        """
    @typing.overload
    def pop(self) -> int:
        """
        Remove and return the last item
        """
    @typing.overload
    def pop(self, i: typing.SupportsInt | typing.SupportsIndex) -> int:
        """
        Remove and return the item at index ``i``
        """
    def remove(self, x: typing.SupportsInt | typing.SupportsIndex) -> None:
        """
        Remove the first item from the list whose value is x. It is an error if there is no such item.
        """
class Hit:
    """
    Class representing a hit with time and charge including their uncertainties.
    
    The update methods only modify the values if the new uncertainty is smaller than the current one.
    """
    @typing.overload
    def __init__(self) -> None:
        """
        Default constructor initializing an invalid hit.
        
        The hit has channel -1, id 0, time 0, charge 0 and infinite time and charge uncertainties.
        """
    @typing.overload
    def __init__(self, channel: typing.SupportsInt | typing.SupportsIndex, id: typing.SupportsInt | typing.SupportsIndex, time: typing.SupportsFloat | typing.SupportsIndex, charge: typing.SupportsFloat | typing.SupportsIndex, time_uncertainty: typing.SupportsFloat | typing.SupportsIndex, charge_uncertainty: typing.SupportsFloat | typing.SupportsIndex) -> None:
        """
        Constructor initializing all member variables.
        
        Parameters
        ----------
        channel : int
            The channel number.
        id : int
            The unique identifier for the hit.
        time : float
            The time in seconds.
        charge : float
            The charge in PE.
        time_uncertainty : float
            The time uncertainty in seconds.
        charge_uncertainty : float
            The charge uncertainty in PE.
        """
    def is_valid(self) -> bool:
        """
        Check whether the hit is valid.
        
        Returns
        -------
        bool
            True if channel >= 0 and uncertainties are finite, False otherwise.
        """
    def set_channel(self, channel: typing.SupportsInt | typing.SupportsIndex) -> None:
        """
        Set the channel number of the hit.
        
        Parameters
        ----------
        channel : int
            The new channel number.
        """
    def set_id(self, id: typing.SupportsInt | typing.SupportsIndex) -> None:
        """
        Set the unique identifier of the hit.
        
        Parameters
        ----------
        id : int
            The new hit id.
        """
    def update_charge(self, new_charge: typing.SupportsFloat | typing.SupportsIndex, new_charge_uncertainty: typing.SupportsFloat | typing.SupportsIndex) -> bool:
        """
        Update the charge and its uncertainty if the new uncertainty is smaller.
        
        Parameters
        ----------
        new_charge : float
            The new charge in PE.
        new_charge_uncertainty : float
            The uncertainty of the new charge in PE.
        
        Returns
        -------
        bool
            True if the update was performed (new uncertainty smaller), False otherwise.
        """
    def update_time(self, new_time: typing.SupportsFloat | typing.SupportsIndex, new_time_uncertainty: typing.SupportsFloat | typing.SupportsIndex) -> bool:
        """
        Update the time and its uncertainty if the new uncertainty is smaller.
        
        Parameters
        ----------
        new_time : float
            The new time in seconds.
        new_time_uncertainty : float
            The uncertainty of the new time in seconds.
        
        Returns
        -------
        bool
            True if the update was performed (new uncertainty smaller), False otherwise.
        """
    @property
    def channel(self) -> int:
        """
        Channel number of the hit.
        """
    @property
    def charge(self) -> float:
        """
        Charge of the hit in PE.
        """
    @property
    def charge_uncertainty(self) -> float:
        """
        Charge uncertainty in PE.
        """
    @property
    def id(self) -> int:
        """
        Unique identifier of the hit.
        """
    @property
    def time(self) -> float:
        """
        Time of the hit in seconds.
        """
    @property
    def time_uncertainty(self) -> float:
        """
        Time uncertainty in seconds.
        """
class TarvoTrigger:
    """
    Tarvo trigger data structure. Contains the trigger time, channel number and waveform samples.
    """
    SECONDS_PER_TICK: typing.ClassVar[float] = 4e-09
    def __init__(self) -> None:
        """
        Default constructor for TarvoTrigger.
        
        Every field starts at zero and the waveform empty.
        
        Attributes
        ----------
        trigger_time_s : int
            Seconds since run start
        trigger_time_ticks : int
            Ticks since last full second (tick = 4ns)
        baseline : float
            Baseline in LSB
        intsum : float
            Waveform sum in LSB
        channel : int
            The channel number
        waveform : VectorUInt16
            The waveform samples in LSB as a list of uint16
        """
    @property
    def baseline(self) -> float:
        """
        Baseline in LSB
        """
    @baseline.setter
    def baseline(self, arg0: typing.SupportsFloat | typing.SupportsIndex) -> None:
        ...
    @property
    def channel(self) -> int:
        """
        The channel number
        """
    @channel.setter
    def channel(self, arg0: typing.SupportsInt | typing.SupportsIndex) -> None:
        ...
    @property
    def intsum(self) -> float:
        """
        Waveform sum in LSB
        """
    @intsum.setter
    def intsum(self, arg0: typing.SupportsFloat | typing.SupportsIndex) -> None:
        ...
    @property
    def trigger_time_s(self) -> int:
        """
        Seconds since run start
        """
    @trigger_time_s.setter
    def trigger_time_s(self, arg0: typing.SupportsInt | typing.SupportsIndex) -> None:
        ...
    @property
    def trigger_time_ticks(self) -> int:
        """
        Ticks since last full second (tick = 4ns)
        """
    @trigger_time_ticks.setter
    def trigger_time_ticks(self, arg0: typing.SupportsInt | typing.SupportsIndex) -> None:
        ...
    @property
    def waveform(self) -> VectorUInt16:
        """
        The waveform samples in LSB as a list of uint16
        """
    @waveform.setter
    def waveform(self, arg0: VectorUInt16) -> None:
        ...
class MultiPMTTrigger:
    """
    MultiPMT trigger data structure.
    """
    def __init__(self) -> None:
        """
        Default constructor for MultiPMTTrigger.
        
        Every field starts at zero.
        
        Attributes
        ----------
        time : float
            Trigger time in seconds.
        channel : int
            Channel number.
        time_over_threshold : float
            Time over threshold in seconds.
        adc_sample : int
            ADC sample in LSB as an unsigned 16-bit integer.
        """
    @property
    def adc_sample(self) -> int:
        """
        ADC sample in LSB as an unsigned 16-bit integer.
        """
    @adc_sample.setter
    def adc_sample(self, arg0: typing.SupportsInt | typing.SupportsIndex) -> None:
        ...
    @property
    def channel(self) -> int:
        """
        Channel number.
        """
    @channel.setter
    def channel(self, arg0: typing.SupportsInt | typing.SupportsIndex) -> None:
        ...
    @property
    def time(self) -> float:
        """
        Trigger time in seconds.
        """
    @time.setter
    def time(self, arg0: typing.SupportsFloat | typing.SupportsIndex) -> None:
        ...
    @property
    def time_over_threshold(self) -> float:
        """
        Time over threshold in seconds.
        """
    @time_over_threshold.setter
    def time_over_threshold(self, arg0: typing.SupportsFloat | typing.SupportsIndex) -> None:
        ...
class HitFeatures:
    """
    Class to hold features of a hit used for charge and time reconstruction.
    
    Every feature is gated by its own has-flag: assigning a feature stores it and sets the flag, the
    has_* methods read the flag, and the getters raise RuntimeError when the feature is not set.
    """
    def __init__(self) -> None:
        """
        Default constructor for HitFeatures.
        
        Every feature is unset.
        """
    def has_adc_sample(self) -> bool:
        """
        Return True if the ADC sample has been set.
        """
    def has_channel(self) -> bool:
        """
        Return True if the channel number has been set.
        """
    def has_id(self) -> bool:
        """
        Return True if the hit id has been set.
        """
    def has_pmt_type(self) -> bool:
        """
        Return True if the PMT type has been set.
        """
    def has_rising_edge_time(self) -> bool:
        """
        Return True if the rising edge time has been set.
        """
    def has_time_over_threshold(self) -> bool:
        """
        Return True if the time-over-threshold has been set.
        """
    def has_trigger_time(self) -> bool:
        """
        Return True if the trigger time has been set.
        """
    def has_waveform_integral(self) -> bool:
        """
        Return True if the waveform integral has been set.
        """
    @property
    def adc_sample(self) -> float:
        """
        ADC sample in LSB.
        
        Raises
        ------
        RuntimeError
            If the ADC sample has not been set.
        """
    @adc_sample.setter
    def adc_sample(self, arg1: typing.SupportsFloat | typing.SupportsIndex) -> None:
        ...
    @property
    def channel(self) -> int:
        """
        Channel number of the hit.
        
        Raises
        ------
        RuntimeError
            If the channel number has not been set.
        """
    @channel.setter
    def channel(self, arg1: typing.SupportsInt | typing.SupportsIndex) -> None:
        ...
    @property
    def id(self) -> int:
        """
        Unique identifier of the hit.
        """
    @id.setter
    def id(self, arg1: typing.SupportsInt | typing.SupportsIndex) -> None:
        ...
    @property
    def pmt_type(self) -> int:
        """
        PMT type of the hit.
        
        Raises
        ------
        RuntimeError
            If the PMT type has not been set.
        """
    @pmt_type.setter
    def pmt_type(self, arg1: typing.SupportsInt | typing.SupportsIndex) -> None:
        ...
    @property
    def rising_edge_time(self) -> float:
        """
        Rising edge time in seconds.
        
        Raises
        ------
        RuntimeError
            If the rising edge time has not been set.
        """
    @rising_edge_time.setter
    def rising_edge_time(self, arg1: typing.SupportsFloat | typing.SupportsIndex) -> None:
        ...
    @property
    def time_over_threshold(self) -> float:
        """
        Time-over-threshold in seconds.
        
        Raises
        ------
        RuntimeError
            If the time-over-threshold has not been set.
        """
    @time_over_threshold.setter
    def time_over_threshold(self, arg1: typing.SupportsFloat | typing.SupportsIndex) -> None:
        ...
    @property
    def trigger_time(self) -> float:
        """
        Trigger time in seconds.
        
        Raises
        ------
        RuntimeError
            If the trigger time has not been set.
        """
    @trigger_time.setter
    def trigger_time(self, arg1: typing.SupportsFloat | typing.SupportsIndex) -> None:
        ...
    @property
    def waveform_integral(self) -> float:
        """
        Integral of the waveform in LSB.
        
        Raises
        ------
        RuntimeError
            If the waveform integral has not been set.
        """
    @waveform_integral.setter
    def waveform_integral(self, arg1: typing.SupportsFloat | typing.SupportsIndex) -> None:
        ...
class RunInfo:
    """
    Run information data structure containing run number, time offsets and run start time.
    """
    RUN_ID_SHIFT: typing.ClassVar[int] = 32
    TRIGGER_INDEX_SHIFT: typing.ClassVar[int] = 4
    @staticmethod
    def run_number_from_id(id: typing.SupportsInt | typing.SupportsIndex) -> int:
        """
        Extract the run number from a hit id.
        """
    @staticmethod
    def simulation_run() -> RunInfo:
        """
        Create a RunInfo object populated with default values for simulation runs.
        """
    @staticmethod
    def trigger_index_from_id(id: typing.SupportsInt | typing.SupportsIndex) -> int:
        """
        Extract the trigger index from a hit id.
        """
    def __init__(self) -> None:
        ...
    @property
    def run_number(self) -> int:
        """
        The run number as an unsigned 64-bit integer.
        """
    @run_number.setter
    def run_number(self, arg0: typing.SupportsInt | typing.SupportsIndex) -> None:
        ...
    @property
    def run_start_time_ns(self) -> int:
        """
        Run start time as nanoseconds since epoch (read/write).
        """
    @run_start_time_ns.setter
    def run_start_time_ns(self, arg1: typing.SupportsInt | typing.SupportsIndex) -> None:
        ...
    @property
    def time_offset_ns(self) -> int:
        """
        The time offset in nanoseconds within the last full second as an unsigned 64-bit integer.
        """
    @time_offset_ns.setter
    def time_offset_ns(self, arg0: typing.SupportsInt | typing.SupportsIndex) -> None:
        ...
    @property
    def time_offset_s(self) -> int:
        """
        The time offset in seconds since run start as an unsigned 64-bit integer.
        """
    @time_offset_s.setter
    def time_offset_s(self, arg0: typing.SupportsInt | typing.SupportsIndex) -> None:
        ...
class FeatureExtractor:
    """
    Extractor for hit features from different trigger types.
    
    There is an extractor available for each supported trigger type.
    The extractors are automatically selected based on the type of the trigger data.
    """
    @staticmethod
    def from_loaded(settings: LoadedSettings) -> FeatureExtractor:
        """
        A FeatureExtractor built from settings loaded already (LoadedSettings).
        """
    def __init__(self, settings: os.PathLike | str | bytes) -> None:
        """
        Constructs a FeatureExtractor.
        
        Parameters
        ----------
        settings : str, bytes or os.PathLike
            Path to the settings file.
        """
    def extract_features(self, trigger_data: collections.abc.Sequence[TarvoTrigger | MultiPMTTrigger], run_info: RunInfo = ...) -> VectorHitFeatures:
        """
        Extract hit features from a list of trigger data.
        
        Parameters
        ----------
        trigger_data : list
            The list of trigger data (TarvoTrigger or MultiPMTTrigger).
        run_info : RunInfo, optional
            Run information (default is a simulation run).
        
        Returns
        -------
        VectorHitFeatures
            A list of extracted HitFeatures. Note that a single trigger may produce multiple hit features or none.
        """
    def extract_multipmt_numpy(self, triggers: numpy.typing.ArrayLike, first_trigger: typing.SupportsInt | typing.SupportsIndex = 0, run_info: RunInfo = ..., *, threads: typing.SupportsInt | typing.SupportsIndex = 1, return_drops: bool = False) -> numpy.typing.NDArray[numpy.void] | tuple[numpy.typing.NDArray[numpy.void], numpy.typing.NDArray[numpy.void]]:
        """
        Extract hit features from an array of multi-PMT trigger rows.
        
        The columnar form of extract_features for one trigger kind, without a Python object per
        trigger and with the interpreter lock released; every trigger yields one record.
        
        Parameters
        ----------
        triggers : numpy.ndarray
            One-dimensional array of multipmt_trigger_dtype rows (time, channel,
            time_over_threshold, adc_sample).  Any strides are read in place; another structured
            array with the same field names, or a sequence of tuples, is converted if every value
            fits its field.
        first_trigger : int, optional
            Position in the run of the first row (default 0), for the hit ids.
        run_info : RunInfo, optional
            Run information (default is a simulation run).
        threads : int, optional, keyword only
            Threads that work the rows (default 1, the calling thread): each takes chunks of rows in
            turn and the results are put together in row order, the same rows, ids and errors as with
            one thread.  0 starts one per core this process may run on; numbers below 0 or above 1024
            are refused.
            A reconstructor added with add_reconstructor_from_callable makes the call use one thread.
        return_drops : bool, optional, keyword only
            Also return the triggers dropped for a channel without a row in the channel table
            (unknown_channels: drop), per channel (default False).
        
        Returns
        -------
        numpy.ndarray or tuple
            One-dimensional array of hit_features_dtype rows, one per trigger kept, in trigger order.
            With return_drops, a tuple (rows, drops): drops is an array of drop_dtype rows (channel,
            unknown_channel, bad_edge, bad_integral, truncated), one per channel with a drop, by
            channel; only unknown_channel can be nonzero here.
        
        Raises
        ------
        TypeError
            triggers is not an array of the required fields.
        ValueError
            triggers is not one-dimensional, a field holds a value its type cannot (the message names
            the field and the first such row), the trigger positions do not fit the hit id, or
            threads is below 0 or above 1024.
        KeyboardInterrupt
            Ctrl-C during a call from the main thread, within a fraction of a second.
        """
    def extract_tarvo_numpy(self, triggers: numpy.typing.ArrayLike, waveforms: numpy.typing.ArrayLike, offsets: numpy.typing.ArrayLike | None = None, first_trigger: typing.SupportsInt | typing.SupportsIndex = 0, run_info: RunInfo = ..., *, threads: typing.SupportsInt | typing.SupportsIndex = 1, return_truncated: bool = False, return_drops: bool = False, return_pulses: bool = False, adc_max: typing.SupportsFloat | None = None) -> numpy.typing.NDArray[numpy.void] | tuple[typing.Any, ...]:
        """
        Extract hit features from arrays of Tarvo trigger rows and their waveforms.
        
        The columnar form of extract_features for one trigger kind: no Python object is made
        per trigger, and the interpreter lock is released while the library works.  The
        records, their order and their ids are those extract_features gives for the same
        triggers.
        
        Parameters
        ----------
        triggers : numpy.ndarray
            One-dimensional array of tarvo_trigger_dtype rows (channel, trigger_time_s,
            trigger_time_ticks, baseline, intsum), one per trigger.  Any strides are read in place;
            another structured array with the same field names, or a sequence of tuples, is
            converted if every value fits its field.
        waveforms : numpy.ndarray
            The samples (LSB): with offsets None, a two-dimensional array (triggers, samples) of
            waveforms of one length; otherwise a flat one-dimensional array of samples.  Any strides
            are read in place; other integer types are converted if every value lies in 0..65535.
        offsets : numpy.ndarray, optional
            With a flat waveforms array: n + 1 non-decreasing int64 offsets within
            [0, len(waveforms)], waveform i being waveforms[offsets[i]:offsets[i + 1]] (the list
            layout of Arrow and awkward arrays); offsets[0] need not be 0.
        first_trigger : int, optional
            Position in the run of the first row (default 0): row i gets trigger position
            first_trigger + i in its hit id, so that a run processed in chunks gets the ids of a
            single call.
        run_info : RunInfo, optional
            Run information (default is a simulation run).
        threads : int, optional, keyword only
            Threads that work the rows (default 1, the calling thread): each takes chunks of rows in
            turn and the results are put together in row order, the same rows, ids and errors as with
            one thread.  0 starts one per core this process may run on; numbers below 0 or above 1024
            are refused.
            A reconstructor added with add_reconstructor_from_callable makes the call use one thread.
        return_truncated : bool, optional, keyword only
            Also return how many waveforms held more pulses than the 16 records a trigger can
            have (default False).
        return_drops : bool, optional, keyword only
            Also return the records left out, per channel and cause, as an array of drop_dtype rows
            (default False; see Returns).
        return_pulses : bool, optional, keyword only
            Also return the shape of every pulse the pulse finder found, an array of pulse_dtype
            rows (id, channel, first_sample, last_sample, baseline, amplitude, peak_time, width,
            rise_time, baseline_rms, index, saturated, no_return), joined to the rows by id
            (default False; needs extractors.waveform: PulseFinder).
        adc_max : float, optional, keyword only
            With return_pulses: the saturation level of the pulse rows' saturated flag where the
            settings give no extractors.PulseFinder.adc_max (a trigger file's 2**adc_bits - 1);
            default 65535.
        
        Returns
        -------
        numpy.ndarray or tuple
            One-dimensional array of hit_features_dtype rows, in trigger order; -1 and NaN mark
            unset features.  A dropped trigger yields no row.
            With return_truncated, a tuple (rows, truncated): truncated counts the
            waveforms that held more pulses than a trigger's 16 records (the first 16
            were kept; only the pulse finder finds several).  With return_pulses, the pulse
            rows come last.  With return_drops, the records left out follow as an array of drop_dtype
            rows (channel, unknown_channel, bad_edge, bad_integral, truncated), one per channel
            with any, by channel: unknown_channel counts the records of triggers on a channel
            without a row in the channel table (unknown_channels: drop), bad_edge and
            bad_integral the records left out by drop_bad_edge and drop_bad_integral (each
            record by the first test it fails; a trigger for the single-record extractors, a
            pulse for the pulse finder), truncated the triggers that held more pulses than 16
            records (their first 16 kept).  The same counts whatever threads is.
            The tuple holds rows, then truncated, drops and pulses as asked, in that order.
        
        Raises
        ------
        TypeError
            An argument that is not an array of the required kind (wrong fields, non-integer
            samples or offsets, something NumPy cannot convert).
        ValueError
            Wrong dimensions; waveforms rows or offsets not matching the triggers; offsets that
            decrease or point outside the samples; sample values outside 0..65535; a trigger field
            holding a value its type cannot, or a baseline that is not a finite number (the message
            names the field and the first such row); trigger positions that do not fit the hit id; a
            waveform of fewer than 3 samples that is not dropped first (the message names its row);
            threads below 0 or above 1024.
        KeyboardInterrupt
            Ctrl-C during a call from the main thread, within a fraction of a second.
        
        Nothing is returned when an error is raised.
        """
    @property
    def channel_table(self) -> ChannelTable | None:
        """
        The channel table of the extraction (settings extractors.channels.table), or None.
        """
    @property
    def sample_period(self) -> float:
        """
        Seconds between two samples the waveform extractor forms its times with: the pulse finder's sample_period, or the single-pulse extractor's fixed 4e-9.
        """
    @property
    def unknown_channels(self) -> str | None:
        """
        What extraction does with a trigger on a channel missing from the channel table:
        "error" (the call fails naming the channel) or "drop" (the trigger gives no record); None without
        a channel table.
        """
    @property
    def waveform_extractor(self) -> str:
        """
        The extractor of waveform triggers the settings select: "Tarvo" (one record per waveform) or "PulseFinder" (one per pulse).
        """
class HitMaker:
    """
    Class to create Hit objects from HitFeatures. HitMaker serves as a container for Reconstructors which represent different
    charge and time reconstruction algorithms.
    """
    @staticmethod
    def from_loaded(settings: LoadedSettings) -> HitMaker:
        """
        A HitMaker with the reconstructors of settings loaded already (LoadedSettings).
        """
    @typing.overload
    def __init__(self) -> None:
        """
        Constructs an empty HitMaker.
        """
    @typing.overload
    def __init__(self, settings: os.PathLike | str | bytes) -> None:
        """
        Constructs a HitMaker and adds the Reconstructors from the given settings file.
        
        Parameters
        
        ----------
        settings : str, bytes or os.PathLike
            Path to the settings file.
        """
    def add_reconstructor_from_callable(self, callable: collections.abc.Callable) -> None:
        """
        Add a reconstructor backed by a Python callable with signature (features, hit).
        The callable should accept (HitFeatures, Hit) and return an updated Hit.
        """
    def make_hits(self, features: VectorHitFeatures, no_discard: bool = False) -> VectorHit:
        """
        Creates Hit objects from the given HitFeatures. All created hits are valid (finite uncertainties).
        
        Parameters
        
        ----------
        features : VectorHitFeatures
            The hit features.
        no_discard : bool, optional
            If True, invalid hits will not be discarded.
        
        Returns
        
        -------
        VectorHit
            A list of created Hit objects.
        """
    def make_hits_numpy(self, features: numpy.typing.ArrayLike, no_discard: bool = False, *, threads: typing.SupportsInt | typing.SupportsIndex = 1) -> numpy.typing.NDArray[numpy.void]:
        """
        Create hits from an array of hit feature rows.
        
        The columnar form of make_hits: the same hits in the same order, without a Python object
        per record.  The interpreter lock is released while the hits are made, unless a
        reconstructor added with add_reconstructor_from_callable takes part; then the callable
        is called, with the lock held, as make_hits calls it.
        
        Parameters
        ----------
        features : numpy.ndarray
            One-dimensional array of hit_features_dtype rows; -1 and NaN mark unset features.
            Another structured array with the same field names is converted if every value fits its
            field (an id field of uint64 keeps its 64 bits).
        no_discard : bool, optional
            If True, invalid hits will not be discarded.
        threads : int, optional, keyword only
            Threads that work the rows (default 1, the calling thread): each takes chunks of rows in
            turn and the results are put together in row order, the same rows, ids and errors as with
            one thread.  0 starts one per core this process may run on; numbers below 0 or above 1024
            are refused.
            A reconstructor added with add_reconstructor_from_callable makes the call use one thread.
        
        Returns
        -------
        numpy.ndarray
            One-dimensional array of hit_dtype rows.
        
        Raises
        ------
        TypeError
            features is not an array of the required fields.
        ValueError
            features is not one-dimensional, a field holds a value its type cannot (the message
            names the field and the first such row), or threads is below 0 or above 1024.
        KeyboardInterrupt
            Ctrl-C during a call from the main thread, within a fraction of a second.
        """
class ChargeReconstruction:
    """
    Main interface of the library: reconstructs hits from trigger data in one call.
    
    The reconstruct method converts trigger data (detector output) into hits (reconstruction output).
    The charge and time reconstruction can be configured via a settings file passed to the constructor.
    """
    @staticmethod
    def from_loaded(settings: LoadedSettings) -> ChargeReconstruction:
        """
        A ChargeReconstruction built from settings loaded already (LoadedSettings): its FeatureExtractor, then its HitMaker, each table file read once for both.
        """
    def __init__(self, settings: str) -> None:
        """
        Create a ChargeReconstruction instance from the given settings file path.
        
        Parameters
        ----------
        settings : str
            Path to the settings file used to configure feature extractor and reconstructor.
        
        Raises
        ------
        Exception
            Propagates exceptions from feature extractor and reconstructor creation if settings are invalid.
        """
    def reconstruct(self, trigger_data: collections.abc.Sequence[TarvoTrigger | MultiPMTTrigger], run_info: RunInfo = ...) -> VectorHit:
        """
        Reconstruct hits from the given trigger data.
        
        Parameters
        ----------
        trigger_data : list
            A list of trigger objects (TarvoTrigger or MultiPMTTrigger).
        run_info : RunInfo, optional
            Run information (default is a simulation run).
        
        Returns
        -------
        VectorHit
            A list of Hit objects resulting from the reconstruction.
        
        Notes
        -----
        A single trigger may produce multiple hits or no hits at all.
        """
    def reconstruct_multipmt_numpy(self, triggers: numpy.typing.ArrayLike, first_trigger: typing.SupportsInt | typing.SupportsIndex = 0, run_info: RunInfo = ..., *, threads: typing.SupportsInt | typing.SupportsIndex = 1, return_drops: bool = False) -> numpy.typing.NDArray[numpy.void] | tuple[numpy.typing.NDArray[numpy.void], numpy.typing.NDArray[numpy.void]]:
        """
        Reconstruct hits from an array of multi-PMT trigger rows.
        
        The columnar form of reconstruct for one trigger kind, without a Python object per trigger
        and with the interpreter lock released.
        
        Parameters
        ----------
        triggers : numpy.ndarray
            One-dimensional array of multipmt_trigger_dtype rows (time, channel,
            time_over_threshold, adc_sample).  Any strides are read in place; another structured
            array with the same field names, or a sequence of tuples, is converted if every value
            fits its field.
        first_trigger : int, optional
            Position in the run of the first row (default 0), for the hit ids.
        run_info : RunInfo, optional
            Run information (default is a simulation run).
        threads : int, optional, keyword only
            Threads that work the rows (default 1, the calling thread): each takes chunks of rows in
            turn and the results are put together in row order, the same rows, ids and errors as with
            one thread.  0 starts one per core this process may run on; numbers below 0 or above 1024
            are refused.
            A reconstructor added with add_reconstructor_from_callable makes the call use one thread.
        return_drops : bool, optional, keyword only
            Also return the triggers dropped for a channel without a row in the channel table
            (unknown_channels: drop), per channel (default False).
        
        Returns
        -------
        numpy.ndarray or tuple
            One-dimensional array of hit_dtype rows of the valid hits, in trigger order.  With
            return_drops, a tuple (rows, drops) as extract_multipmt_numpy returns.
        
        Raises
        ------
        TypeError
            triggers is not an array of the required fields.
        ValueError
            triggers is not one-dimensional, a field holds a value its type cannot (the message names
            the field and the first such row), the trigger positions do not fit the hit id, or
            threads is below 0 or above 1024.
        KeyboardInterrupt
            Ctrl-C during a call from the main thread, within a fraction of a second.
        """
    def reconstruct_tarvo_numpy(self, triggers: numpy.typing.ArrayLike, waveforms: numpy.typing.ArrayLike, offsets: numpy.typing.ArrayLike | None = None, first_trigger: typing.SupportsInt | typing.SupportsIndex = 0, run_info: RunInfo = ..., *, threads: typing.SupportsInt | typing.SupportsIndex = 1, return_truncated: bool = False, return_drops: bool = False, return_pulses: bool = False, adc_max: typing.SupportsFloat | None = None) -> numpy.typing.NDArray[numpy.void] | tuple[typing.Any, ...]:
        """
        Reconstruct hits from arrays of Tarvo trigger rows and their waveforms.
        
        The columnar form of reconstruct for one trigger kind: no Python object is made per
        trigger, and the interpreter lock is released while the library works, so that
        several threads can reconstruct on several cores.  The hits, their order and their
        ids are those reconstruct gives for the same triggers.
        
        Parameters
        ----------
        triggers : numpy.ndarray
            One-dimensional array of tarvo_trigger_dtype rows (channel, trigger_time_s,
            trigger_time_ticks, baseline, intsum), one per trigger.  Any strides are read in place;
            another structured array with the same field names, or a sequence of tuples, is
            converted if every value fits its field.
        waveforms : numpy.ndarray
            The samples (LSB): with offsets None, a two-dimensional array (triggers, samples) of
            waveforms of one length; otherwise a flat one-dimensional array of samples.  Any strides
            are read in place; other integer types are converted if every value lies in 0..65535.
        offsets : numpy.ndarray, optional
            With a flat waveforms array: n + 1 non-decreasing int64 offsets within
            [0, len(waveforms)], waveform i being waveforms[offsets[i]:offsets[i + 1]] (the list
            layout of Arrow and awkward arrays); offsets[0] need not be 0.
        first_trigger : int, optional
            Position in the run of the first row (default 0): row i gets trigger position
            first_trigger + i in its hit id, so that a run processed in chunks gets the ids of a
            single call.
        run_info : RunInfo, optional
            Run information (default is a simulation run).
        threads : int, optional, keyword only
            Threads that work the rows (default 1, the calling thread): each takes chunks of rows in
            turn and the results are put together in row order, the same rows, ids and errors as with
            one thread.  0 starts one per core this process may run on; numbers below 0 or above 1024
            are refused.
            A reconstructor added with add_reconstructor_from_callable makes the call use one thread.
        return_truncated : bool, optional, keyword only
            Also return how many waveforms held more pulses than the 16 records a trigger can
            have (default False).
        return_drops : bool, optional, keyword only
            Also return the records left out, per channel and cause, as an array of drop_dtype rows
            (default False; see Returns).
        return_pulses : bool, optional, keyword only
            Also return the shape of every pulse the pulse finder found, an array of pulse_dtype
            rows (id, channel, first_sample, last_sample, baseline, amplitude, peak_time, width,
            rise_time, baseline_rms, index, saturated, no_return), joined to the rows by id
            (default False; needs extractors.waveform: PulseFinder).
        adc_max : float, optional, keyword only
            With return_pulses: the saturation level of the pulse rows' saturated flag where the
            settings give no extractors.PulseFinder.adc_max (a trigger file's 2**adc_bits - 1);
            default 65535.
        
        Returns
        -------
        numpy.ndarray or tuple
            One-dimensional array of hit_dtype rows of the valid hits, in trigger order.
            With return_truncated, a tuple (rows, truncated): truncated counts the
            waveforms that held more pulses than a trigger's 16 records (the first 16
            were kept; only the pulse finder finds several).  With return_pulses, the pulse
            rows come last.  With return_drops, the records left out follow as an array of drop_dtype
            rows (channel, unknown_channel, bad_edge, bad_integral, truncated), one per channel
            with any, by channel: unknown_channel counts the records of triggers on a channel
            without a row in the channel table (unknown_channels: drop), bad_edge and
            bad_integral the records left out by drop_bad_edge and drop_bad_integral (each
            record by the first test it fails; a trigger for the single-record extractors, a
            pulse for the pulse finder), truncated the triggers that held more pulses than 16
            records (their first 16 kept).  The same counts whatever threads is.
            The tuple holds rows, then truncated, drops and pulses as asked, in that order.
        
        Raises
        ------
        TypeError
            An argument that is not an array of the required kind (wrong fields, non-integer
            samples or offsets, something NumPy cannot convert).
        ValueError
            Wrong dimensions; waveforms rows or offsets not matching the triggers; offsets that
            decrease or point outside the samples; sample values outside 0..65535; a trigger field
            holding a value its type cannot, or a baseline that is not a finite number (the message
            names the field and the first such row); trigger positions that do not fit the hit id; a
            waveform of fewer than 3 samples that is not dropped first (the message names its row);
            threads below 0 or above 1024.
        KeyboardInterrupt
            Ctrl-C during a call from the main thread, within a fraction of a second.
        
        Nothing is returned when an error is raised.
        """
    @property
    def sample_period(self) -> float:
        """
        Seconds between two samples the waveform extractor forms its times with: the pulse finder's sample_period, or the single-pulse extractor's fixed 4e-9.
        """
    @property
    def waveform_extractor(self) -> str:
        """
        The extractor of waveform triggers the settings select: "Tarvo" (one record per waveform) or "PulseFinder" (one per pulse).
        """
class SettingsProblem:
    """
    One mistake found by check_settings in a settings file or in
    a table file it names.
    """
    def __repr__(self) -> str:
        ...
    def __str__(self) -> str:
        ...
    @property
    def expected(self) -> str:
        """
        What was expected.
        """
    @property
    def file(self) -> str:
        """
        The file the problem is in: the settings file or a table file.
        """
    @property
    def found(self) -> str:
        """
        What was found instead.
        """
    @property
    def hint(self) -> str:
        """
        A suggestion ("did you mean ...?"), or an empty string.
        """
    @property
    def key_path(self) -> str:
        """
        Keys from the settings file's root to the setting, joined by dots; for a problem in a table file, the setting naming the table.
        """
    @property
    def line(self) -> int:
        """
        1-based line in `file`; 0 when no line applies.
        """
    @property
    def message(self) -> str:
        """
        `file:line: key.path: expected ..., found ...; hint`.
        """
    @property
    def refused_by_library(self) -> bool:
        """
        Whether the library itself refuses the file for this problem (an error on construction); False where it loads the file anyway: it ignores unknown keys and sections, takes the first of a key given twice, reads a lookup-table row's first three numbers, ...
        """
class LoadedSettings:
    """
    A settings file read once, with each table file it names read the first time it is used.
    
    What a program builds from one settings file (the check, a summary, a FeatureExtractor, a
    HitMaker, a ChargeReconstruction) is built from one LoadedSettings through the from_loaded
    methods, and no file is opened twice.  Building reads the settings exactly as the constructors
    from a path do, and raises the same errors.
    """
    def __init__(self, settings: os.PathLike | str | bytes, text: bytes | None = None) -> None:
        """
        Read a settings file.
        
        A file that cannot be read or parsed is no error here: check() reports it, and building from it
        raises what the constructors from its path raise.
        
        Parameters
        ----------
        settings : str, bytes or os.PathLike
            Path to the settings file.
        text : bytes, optional
            The settings' content (a copy kept with a run's results), taken as the content of
            ``settings``, which is then not read: table names still resolve against its folder.
        """
    def __repr__(self) -> str:
        ...
    def check(self) -> list[SettingsProblem]:
        """
        check_settings of these settings, reading every table file it names.
        """
    def summary(self) -> dict:
        """
        summarize_settings of these settings.
        """
    @property
    def file(self) -> str:
        """
        The settings file, as given.
        """
    @property
    def tables(self) -> dict:
        """
        The table files read so far, by name resolved against the settings file's folder, in the order first read: their bytes, or None for one that could not be read.
        """
    @property
    def text(self) -> typing.Any:
        """
        The settings file's bytes, or None when it could not be read.
        """
class ChannelTable:
    """
    A channel table: the PMT type and the calibration columns of
    every channel, read from a CSV file with a header line (lines starting with '#' and blank lines
    are skipped; columns "channel" and "pmt_type" are required, every other column holds numbers).
    """
    @staticmethod
    def calibration_columns(prefix: str) -> list[str]:
        """
        The five columns of a line calibration that a ChannelLinearReco with columns: PREFIX reads, in the order slope, intercept, slope_uncertainty, intercept_uncertainty, covariance.
        """
    def __init__(self, path: os.PathLike | str | bytes) -> None:
        """
        Reads a channel table.
        
        Parameters
        ----------
        path : str, bytes or os.PathLike
            The table file.
        
        Raises
        ------
        RuntimeError
            The file cannot be read, or a line is malformed (the message names file, line and column).
        """
    def __len__(self) -> int:
        ...
    @property
    def channels(self) -> numpy.typing.NDArray[numpy.int32]:
        """
        The channel of each row, in file order (a new int32 array).
        """
    @property
    def file(self) -> pathlib.Path:
        """
        The table file.
        """
    @property
    def pmt_types(self) -> numpy.typing.NDArray[numpy.int32]:
        """
        The PMT type of each row (a new int32 array).
        """
def check_settings(settings: os.PathLike | str | bytes) -> list[SettingsProblem]:
    """
    Check a settings file and the lookup tables and channel tables it names.
    
    Reports every problem found rather than the first: unknown sections and keys (with the closest
    known key), keys given twice, values of the wrong type, NaN where a number is needed, min_value
    not below max_value, a missing or empty reco section, unreadable or malformed table files.
    Reading the file with the other classes is unaffected by this check.
    
    Parameters
    ----------
    settings : str, bytes or os.PathLike
        Path to the settings file.
    
    Returns
    -------
    list[SettingsProblem]
        The problems in the order of the file; empty when the file is sound.
    """
def hit_features_list_to_numpy(features: VectorHitFeatures) -> numpy.typing.NDArray[numpy.void]:
    """
    Convert a list of HitFeatures objects to a structured numpy array.
    Unset fields are represented with -1 for integers and NaN for floats.
    
    Parameters
    ----------
    features : VectorHitFeatures
        List of HitFeatures objects to convert.
    
    Returns
    -------
    numpy.ndarray
        One-dimensional array of rows with the fields channel, pmt_type, id, trigger_time,
        waveform_integral, time_over_threshold, adc_sample and rising_edge_time
        (dtype hit_features_dtype).
    """
def hit_list_to_numpy(hits: VectorHit) -> numpy.typing.NDArray[numpy.void]:
    """
    Convert a list of Hit objects to a structured numpy array.
    
    Parameters
    ----------
    hits : VectorHit
        List of Hit objects to convert.
    
    Returns
    -------
    numpy.ndarray
        One-dimensional array of rows with the fields channel, id, time, charge, time_uncertainty
        and charge_uncertainty (dtype hit_dtype).
    """
def numpy_to_hit_features_list(np_array: numpy.typing.ArrayLike) -> VectorHitFeatures:
    """
    Convert a structured numpy array to a list of HitFeatures objects.
    Fields with -1 for integers and NaN for floats are considered unset.
    
    Parameters
    ----------
    np_array : numpy.ndarray
        One-dimensional structured array with the fields channel, pmt_type, id, trigger_time,
        waveform_integral, time_over_threshold, adc_sample and rising_edge_time
        (dtype hit_features_dtype, or convertible to it).
    
    Returns
    -------
    VectorHitFeatures
        List of HitFeatures objects.
    """
def numpy_to_hit_list(np_array: numpy.typing.ArrayLike) -> VectorHit:
    """
    Convert a structured numpy array to a list of Hit objects.
    
    Parameters
    ----------
    np_array : numpy.ndarray
        One-dimensional structured array with the fields channel, id, time, charge,
        time_uncertainty and charge_uncertainty (dtype hit_dtype, or convertible to it).
    
    Returns
    -------
    VectorHit
        List of Hit objects.
    """
def summarize_settings(settings: os.PathLike | str | bytes) -> dict:
    """
    What a settings file configures, for display (meaningful for a file that passes
    check_settings).
    
    Parameters
    ----------
    settings : str, bytes or os.PathLike
        Path to the settings file.
    
    Returns
    -------
    dict
        "extractors": extractor options in file order ({"waveform": "Tarvo",
        "Tarvo.drop_bad_edge": "true", ...}); "reco": one dict per reconstructor in the order they
        are applied (name, class, feature, hit_property, pmt_type, table: its class's first table
        file); "tables": every table file named, resolved against the settings file's directory;
        "table_keys": (key path, file) for every key that names a table file, as the extractors
        and the classes declare them ([("extractors.channels.table", ...), ...]).
    
    Raises
    ------
    RuntimeError
        The file cannot be read as YAML.
    """
__version__: str = '0.1.0'
drop_dtype: numpy.dtypes.VoidDType
hit_dtype: numpy.dtype[numpy.void]
hit_features_dtype: numpy.dtype[numpy.void]
multipmt_trigger_dtype: numpy.dtype[numpy.void]
pulse_dtype: numpy.dtypes.VoidDType
tarvo_trigger_dtype: numpy.dtype[numpy.void]
